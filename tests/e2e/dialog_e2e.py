#!/usr/bin/env python3
"""Drives the real program's dialog as a user would, on a private X server.

  dialog_e2e.py windows --program novelfetch.exe --driver dialog_driver.exe
                        --wine-run tests/wine-run --prefix DIR --locale en|zh_CN --shots DIR
  dialog_e2e.py linux --program novelfetch --shots DIR
  dialog_e2e.py windows-test-program --program TEST.exe --wine-run ... --prefix DIR --shots DIR

Checks: the dialog appears with its caption, icon, four controls (1001 to 1004),
their texts and places; the status box shows the help text; typing in the
address box works, scrolls (style ES_AUTOHSCROLL) and takes exactly 255
characters; Escape and Enter leave the dialog open and start nothing; the close
box ends the process with exit code 0 after the runtime's shutdown. A screenshot
of the dialog is saved in --shots.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xvfb import Display  # noqa: E402

CAPTION = "小说下载器"
LABEL = "小说地址:"
BUTTON = "下载小说"
HELP = "    请把需要下载小说目录的完整地址复制到小说地址中，包括前面的http://或https://。"
ADDRESS = "http://127.0.0.1:9/book/index.html"
ADDRESS_LIMIT = 255

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def escaped(text):
    """Non-ASCII characters as \\uXXXX, which the driver decodes."""
    return "".join(c if ord(c) < 128 else "\\u%04x" % ord(c) for c in text)


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\r", "\\r").replace("\n", "\\n") + '"'


def wait_for(condition, seconds):
    until = time.time() + seconds
    while time.time() < until:
        value = condition()
        if value:
            return value
        time.sleep(0.2)
    return condition()


def run(command, env, timeout=60):
    return subprocess.run(command, env=env, capture_output=True, timeout=timeout)


def screenshot(env, path, x, y, width, height):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage", path],
                   env=env, check=True, timeout=60)
    print("screenshot " + path, flush=True)


def x_window_by_name(env, name):
    """The top-level X window whose name is exactly name (xdotool's search does
    not match names outside ASCII)."""
    tree = run(["xwininfo", "-root", "-tree"], env).stdout.decode("utf-8", "replace")
    found = re.search(r"^\s*(0x[0-9a-f]+) %s:" % re.escape(quoted(name)), tree, re.MULTILINE)
    return int(found.group(1), 16) if found else None


def x_property(env, window, name):
    return run(["xprop", "-id", str(window), name], env).stdout.decode("utf-8", "replace")


WINE_FONTS = "/usr/share/wine/fonts"
COVER_BLUE = 0xFF2F6FD0  # the book's cover in icon 129


def shows_book_icon(env, window):
    """True when the window's icon, at any size, is the book of icon 129."""
    if not window:
        return False
    raw = run(["xprop", "-id", str(window), "-f", "_NET_WM_ICON", "32c", " = $0+", "_NET_WM_ICON"], env).stdout
    values = [int(v) for v in re.findall(r"\d+", raw.decode().partition("=")[2])]
    return len(values) > 2 and values[0] * values[1] + 2 <= len(values) and COVER_BLUE in values[2:]


# A visible child with a tab stop that scrolls horizontally.
ADDRESS_BOX_STYLE = "0x50010080"


def check_address_box_full(typed):
    check(typed == (ADDRESS + "w" * 300)[:ADDRESS_LIMIT],
          "the address box takes %d characters and no more (%d)" % (ADDRESS_LIMIT, len(typed)))


def ends_within(process, seconds):
    try:
        return process.wait(seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


# ---- Windows, under Wine -----------------------------------------------------

def registry_multi_string(values):
    data = "".join(v + "\0" for v in values) + "\0"
    return "hex(7):" + ",".join("%02x" % b for b in data.encode("utf-16-le"))


def prepare_prefix(args, env):
    """The e2e prefix: the dialog font "宋体" and the system fonts fall back to a
    Chinese font that Debian ships, and Wine draws the window frame itself so
    that the screenshots show the caption without a window manager."""
    marker = os.path.join(args.prefix, "novelfetch-e2e-fonts")
    if not os.path.exists(marker):
        link = registry_multi_string(["wqy-microhei.ttc,WenQuanYi Micro Hei"])
        lines = [
            "Windows Registry Editor Version 5.00", "",
            r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]",
            '"宋体"="WenQuanYi Micro Hei"', '"SimSun"="WenQuanYi Micro Hei"', "",
            r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]",
        ]
        for face in ["Tahoma", "Microsoft Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2", "Segoe UI"]:
            lines.append('"%s"=%s' % (face, link))
        lines += ["", r"[HKEY_CURRENT_USER\Software\Wine\X11 Driver]", '"Decorated"="N"', ""]
        os.makedirs(args.prefix, exist_ok=True)
        reg = os.path.join(args.prefix, "novelfetch-e2e-fonts.reg")
        with open(reg, "wb") as f:
            f.write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
        subprocess.run([args.wine_run, "regedit", "/S", "Z:" + reg.replace("/", "\\")], env=env, check=True,
                       timeout=300, capture_output=True)
        subprocess.run(["wineserver", "-w"], env=env, timeout=120)
        open(marker, "w").close()
    # Wine's own TrueType fonts (Marlett draws the caption buttons) are found
    # only in the prefix's font folder.
    fonts = os.path.join(args.prefix, "drive_c", "windows", "Fonts")
    if os.path.isdir(fonts) and os.path.isdir(WINE_FONTS):
        for name in os.listdir(WINE_FONTS):
            if name.endswith(".ttf") and not os.path.exists(os.path.join(fonts, name)):
                shutil.copy(os.path.join(WINE_FONTS, name), fonts)


def locale_environment(args, env):
    if args.locale == "en":
        env["LC_ALL"] = "C.UTF-8"
        return
    env["LC_ALL"] = args.locale + ".UTF-8"
    available = run(["locale", "-a"], env).stdout.decode().lower().split()
    if args.locale.lower() + ".utf8" in available:
        return
    # Not installed on this machine: build it for this test only.
    locales = os.path.join(args.shots, "locales")
    os.makedirs(locales, exist_ok=True)
    if not os.path.isdir(os.path.join(locales, args.locale + ".UTF-8")):
        subprocess.run(["localedef", "-i", args.locale, "-f", "UTF-8", os.path.join(locales, args.locale + ".UTF-8")],
                       check=True, timeout=300, capture_output=True)
    env["LOCPATH"] = locales


def stop_wine(env):
    """Ends every process of the prefix. A Wine session outlives its programs
    for a while, and one still tied to an earlier test's X server would hang
    every program started in it on a new one."""
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True, timeout=60)
    subprocess.run(["wineserver", "-w"], env=env, capture_output=True, timeout=60)


def test_windows(args):
    base = dict(os.environ, WINEPREFIX=args.prefix, WINEDEBUG="-all")
    with Display() as display:
        env = display.environment(base)
        stop_wine(env)
        locale_environment(args, env)
        prepare_prefix(args, env)

        # Start the Wine session with nowhere to write: its background processes
        # inherit the first program's output, and would hold a pipe open.
        subprocess.run([args.wine_run, "wineboot"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)

        def drive(*steps):
            with tempfile.TemporaryFile() as output:
                code = subprocess.call([args.wine_run, args.driver] + [escaped(s) for s in steps], env=env,
                                       stdout=output, stderr=subprocess.STDOUT, timeout=300)
                output.seek(0)
                out = output.read().decode("utf-8", "replace").replace("\r", "").splitlines()
            if code != 0:
                check(False, "driver %s: %s" % (" ".join(steps), out))
            return out

        # The shutdown's last step, CoUninitialize, shows in Wine's COM trace.
        program_env = dict(env, WINEDEBUG="-all,trace+ole")
        log = open(os.path.join(args.shots, "windows-%s-program.log" % args.locale), "w+b")
        program = subprocess.Popen([args.wine_run, args.program], env=program_env, stdout=log, stderr=log)
        try:
            seen = drive("find", CAPTION, "240000", "window", "units", "223", "85", "controls", "focus", "rect",
                         "code-page", "text", "1004")
            check(seen[:1] == ["found " + quoted(CAPTION)], "the dialog appears with its caption: %s" % seen[:1])
            window = next((l for l in seen if l.startswith("window ")), "")
            style = int(re.search(r" style=(0x[0-9A-F]+)", window).group(1), 16) if window else 0
            check(style & 0x00CA0000 == 0x00CA0000, "caption, system menu and minimise box: %s" % window)
            check(style & 0x00050000 == 0, "no maximise box and no sizing border")
            controls = [re.sub(r" exstyle=0x[0-9A-F]+", "", l) for l in seen if l.startswith("control ")]
            expected = [
                'control id=1001 class="Static" style=0x50000000 units=6,9 39x12 text=%s' % quoted(LABEL),
                'control id=1002 class="Edit" style=%s units=45,6 177x15 text=""' % ADDRESS_BOX_STYLE,
                'control id=1003 class="Button" style=0x50010000 units=3,27 39x18 text=%s' % quoted(BUTTON),
                'control id=1004 class="Edit" style=0x58010004 units=45,24 177x58 text=%s' % quoted(HELP),
            ]
            check(controls == expected, "the four controls, their places and texts:\n  " + "\n  ".join(controls))
            edges = [re.search(r"exstyle=(0x[0-9A-F]+)", l).group(1) for l in seen if l.startswith("control ")]
            check([int(e, 16) & 0x200 for e in edges] == [0, 0x200, 0, 0x200], "sunken edges on the two boxes")
            check("focus 1002" in seen, "the address box has the focus")
            pages = [l for l in seen if l.startswith("code-page ")]
            check(pages == ["code-page " + ("936" if args.locale == "zh_CN" else "1252")],
                  "Wine runs with the locale's code page: %s" % pages)

            rect = next((l for l in seen if l.startswith("rect ")), "rect 0 0 400 200").split()[1:]
            x, y, width, height = (int(v) for v in rect)
            time.sleep(1)
            screenshot(env, os.path.join(args.shots, "dialog-windows-%s.png" % args.locale), x, y, width, height)
            frame = x_window_by_name(env, CAPTION)
            check(shows_book_icon(env, frame),
                  "the window carries the book icon")

            template = drive("template", args.program)
            check(template[:9] == [
                'template style=0x10CA0840 exstyle=0x00000000 at=10,10 size=223x85 menu="" class="" caption=%s '
                'font="宋体" points=9 weight=400 italic=0 charset=134' % quoted(CAPTION),
                'item id=1001 class="STATIC" style=0x50000000 exstyle=0x00000000 at=6,9 size=39x12 text=%s'
                % quoted(LABEL),
                'item id=1002 class="EDIT" style=%s exstyle=0x00000200 at=45,6 size=177x15 text=""'
                % ADDRESS_BOX_STYLE,
                'item id=1003 class="BUTTON" style=0x50010000 exstyle=0x00000000 at=3,27 size=39x18 text=%s'
                % quoted(BUTTON),
                'item id=1004 class="EDIT" style=0x58010004 exstyle=0x00000200 at=45,24 size=177x58 text=%s'
                % quoted(HELP),
                "icon 129 image=16x16 bits=32", "icon 129 image=32x32 bits=32", "icon 129 image=48x48 bits=32",
                "icon 129 image=256x256 bits=32"], "the stored template and icon:\n  " + "\n  ".join(template))

            seen = drive("find", CAPTION, "5000", "type", ADDRESS, "text", "1002", "key", "escape", "alive",
                         "key", "enter", "sleep", "500", "alive", "text", "1002", "text", "1004", "focus")
            check(seen.count("text 1002 " + quoted(ADDRESS)) == 2, "typing fills the address box: %s" % seen)
            check(seen.count("alive") == 2, "Escape and Enter leave the dialog open")
            check("text 1004 " + quoted(HELP) in seen, "Enter started nothing: the help text is still shown")

            seen = drive("find", CAPTION, "5000", "type", "w" * 300, "text", "1002")
            typed = next((l for l in seen if l.startswith("text 1002 ")), "")[len("text 1002 "):].strip('"')
            check_address_box_full(typed)

            # The button takes the focus, or, once a download runs, the download
            # disables it while it fetches the address (an unreachable one fails
            # at once, or at the fetch's time limit where the HTTP class cannot
            # tell a failed connection from a slow one) and replaces the help text.
            seen = drive("find", CAPTION, "5000", "click", "1003", "sleep", "1000", "focus", "enabled", "1003",
                         "text", "1004")
            check("focus 1003" in seen or "enabled 1003 0" in seen or ("text 1004 " + quoted(HELP)) not in seen,
                  "a click reaches the download button: %s" % seen[-3:])

            # A download that has started goes on to its end before the dialog
            # goes: here four tries of an address that refuses connections (which
            # Wine's XMLHTTP reports only at the 15 s connect limit) and the
            # waits between them, about 90 s.
            seen = drive("find", CAPTION, "5000", "close", "wait-gone", "150000")
            check("gone" in seen, "the close box ends the dialog")
            code = ends_within(program, 60)
            check(code == 0, "the process ends with exit code 0 (%s)" % code)
            log.seek(0)
            trace = log.read().decode("utf-8", "replace")
            check("CoUninitialize" in trace, "the shutdown ran to its end (CoUninitialize)")
        finally:
            if program.poll() is None:
                program.kill()
            log.close()
            stop_wine(env)


def run_windows_test_program(args):
    """Runs a Windows test program that opens dialogs of its own, on a private
    X server in the e2e prefix, and passes on its output and exit code."""
    base = dict(os.environ, WINEPREFIX=args.prefix, WINEDEBUG="-all")
    with Display() as display:
        env = display.environment(base)
        locale_environment(args, env)
        stop_wine(env)
        prepare_prefix(args, env)
        subprocess.run([args.wine_run, "wineboot"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        try:
            with tempfile.TemporaryFile() as output:
                code = subprocess.call([args.wine_run, args.program], env=env, stdout=output,
                                       stderr=subprocess.STDOUT, timeout=300)
                output.seek(0)
                sys.stdout.write(output.read().decode("utf-8", "replace"))
        finally:
            stop_wine(env)
    check(code == 0, "the test program passed (exit code %s)" % code)


# ---- Linux, GTK ----------------------------------------------------------------

def start_window_manager(env):
    """Openbox gives the window the frame a desktop gives it: a caption with
    the icon, and the buttons that the window's style allows."""
    manager = subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    ready = wait_for(lambda: "window id" in run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env).stdout.decode(),
                     30)
    check(ready, "the window manager runs")
    return manager


def geometry(env, window):
    info = run(["xwininfo", "-id", str(window)], env).stdout.decode()
    number = lambda key: int(re.search(key + r":\s+(-?\d+)", info).group(1))  # noqa: E731
    return (number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"), number("Height"))


def frame_of(env, window):
    tree = run(["xwininfo", "-tree", "-id", str(window)], env).stdout.decode()
    return int(re.search(r"Parent window id: (0x[0-9a-f]+)", tree).group(1), 16)


def test_linux(args):
    with Display() as display:
        env = display.environment()
        env["NO_AT_BRIDGE"] = "1"
        env["GDK_BACKEND"] = "x11"
        manager = start_window_manager(env)
        log = open(os.path.join(args.shots, "linux-program.log"), "w+b")
        program = subprocess.Popen([args.program], env=env, stdout=log, stderr=log)
        try:
            window = wait_for(lambda: x_window_by_name(env, CAPTION), 30)
            check(window is not None, "the dialog appears with its caption")
            if window is None:
                return
            time.sleep(1)
            check('= "%s"' % CAPTION in x_property(env, window, "_NET_WM_NAME"), "the caption is the program's")
            check(shows_book_icon(env, window), "the window carries the book icon")
            x, y, width, height = geometry(env, window)
            check(223 * 5 // 4 <= width <= 223 * 10 // 4 and 85 * 10 // 8 <= height <= 85 * 20 // 8,
                  "the dialog's size follows its 223 x 85 dialog units (%dx%d pixels)" % (width, height))
            hints = x_property(env, window, "WM_NORMAL_HINTS")
            check("minimum size: %d by %d" % (width, height) in hints and "maximum size: %d by %d" % (width, height)
                  in hints, "the window keeps its size")
            actions = x_property(env, window, "_NET_WM_ALLOWED_ACTIONS")
            check("MINIMIZE" in actions and "CLOSE" in actions and "MAXIMIZE" not in actions
                  and "RESIZE" not in actions, "minimise and close, no maximise and no resizing: %s" % actions.strip())
            frame = frame_of(env, window)
            frame_x, frame_y, frame_width, frame_height = geometry(env, frame)
            screenshot(env, os.path.join(args.shots, "dialog-linux.png"), frame_x, frame_y, frame_width, frame_height)

            # The status box's pixels before anything is pressed.
            status_before = os.path.join(args.shots, "linux-status-before.png")
            status_after = os.path.join(args.shots, "linux-status-after.png")
            status_area = (x + width * 45 // 223, y + height * 24 // 85, width * 177 // 223, height * 58 // 85)
            screenshot(env, status_before, *status_area)

            def address_box_text():
                run(["xdotool", "key", "--window", str(window), "ctrl+a", "ctrl+c"], env)
                time.sleep(0.3)
                return run(["xclip", "-o", "-selection", "clipboard"], env).stdout.decode("utf-8", "replace")

            run(["xdotool", "windowfocus", "--sync", str(window)], env)
            run(["xdotool", "type", "--delay", "20", ADDRESS], env)
            check(address_box_text() == ADDRESS, "typing fills the address box")
            run(["xdotool", "key", "Escape"], env)
            run(["xdotool", "key", "Return"], env)
            time.sleep(0.5)
            check(x_window_by_name(env, CAPTION) == window and program.poll() is None,
                  "Escape and Enter leave the dialog open")
            check(address_box_text() == ADDRESS, "the address is still there")
            screenshot(env, status_after, *status_area)
            same = run(["compare", "-metric", "AE", status_before, status_after, "null:"], env)
            check(same.stderr.decode().strip() == "0", "Enter started nothing: the status box is unchanged")

            run(["xdotool", "key", "End"], env)
            run(["xdotool", "type", "--delay", "5", "w" * 300], env)
            check_address_box_full(address_box_text())

            # The close box is the last button at the right end of the caption.
            run(["xdotool", "mousemove", str(frame_x + frame_width - 10), str(frame_y + 11), "click", "1"], env)
            code = ends_within(program, 30)
            check(code == 0, "the close box ends the process with exit code 0 (%s)" % code)
            log.seek(0)
            output = log.read().decode("utf-8", "replace")
            check(not re.search(r"CRITICAL|WARNING|ERROR", output), "no GTK warnings: %r" % output[:500])
        finally:
            if program.poll() is None:
                program.kill()
            log.close()
            manager.terminate()
            manager.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("platform", choices=["windows", "windows-test-program", "linux"])
    parser.add_argument("--program", required=True)
    parser.add_argument("--driver")
    parser.add_argument("--wine-run")
    parser.add_argument("--prefix")
    parser.add_argument("--locale", default="en")
    parser.add_argument("--shots", required=True)
    args = parser.parse_args()
    os.makedirs(args.shots, exist_ok=True)
    if args.platform == "windows":
        test_windows(args)
    elif args.platform == "windows-test-program":
        run_windows_test_program(args)
    else:
        test_linux(args)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
