#!/usr/bin/env python3
"""Checks the packages that `make dist` wrote, as a reader meets them.

  check_dist.py --dist dist --build build --version VERSION

The Debian package: lintian finds no error; its control fields name the
package, this version, amd64 and the dependencies that dpkg-shlibdeps computed
(each with its least version); unpacked into a scratch root, it holds the
stripped program, a desktop entry whose program and icon the package holds,
the icon at every size, the manual page, the copyright and a changelog whose
latest entry is this version.

The Windows zip: exactly novelfetch.exe and 读我.txt; the readme is code page
936 with Windows line ends; the program is stripped, imports only DLLs that
every Windows has, carries this version in its version resource and manifest,
and opens its dialog under Wine from the unpacked folder.
"""
import argparse
import gzip
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from dialog_e2e import CAPTION, check, failures, stop_wine, wait_for, x_window_by_name  # noqa: E402
from xvfb import Display  # noqa: E402

ICON_SIZES = (16, 32, 48, 256)
# DLLs of every Windows since Vista that the program may import; a compiler's
# runtime DLL (libstdc++, libgcc, winpthread) is not one of them.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "advapi32.dll",
               "shell32.dll", "ole32.dll", "oleaut32.dll", "msvcrt.dll", "ws2_32.dll", "winhttp.dll"}


def output(command):
    return subprocess.run(command, capture_output=True, text=True).stdout


def png_size(path):
    """Width and height of a PNG file; None when there is none."""
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        head = f.read(24)
    return struct.unpack(">II", head[16:24]) if head[:8] == b"\x89PNG\r\n\x1a\n" else None


def desktop_entry(path):
    with open(path, encoding="utf-8") as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)


def check_debian_package(package, version):
    lint = subprocess.run(["lintian", "--fail-on", "error", package], capture_output=True, text=True)
    print("lintian: " + (lint.stdout.strip() or "no tags"))
    check(lint.returncode == 0 and not re.search(r"^E: ", lint.stdout, re.M), "lintian finds no error")

    info = output(["dpkg-deb", "--info", package])
    fields = dict(re.findall(r"^ (\S+): (.*)$", info, re.M))
    identity = (fields.get("Package"), fields.get("Version"), fields.get("Architecture"))
    check(identity == ("novelfetch", version, "amd64"), "the package is novelfetch %s for amd64: %s"
          % (version, " ".join(map(str, identity))))
    depends = fields.get("Depends", "")
    check(all(re.search(r"(^|, )%s \(>= [^)]+\)" % re.escape(library), depends)
              for library in ("libc6", "libcurl4", "libgtk-3-0", "libstdc++6")),
          "the dependencies are the binary's: %s" % depends)

    with tempfile.TemporaryDirectory() as root:
        subprocess.run(["dpkg", "-x", package, root], check=True)
        usr = os.path.join(root, "usr")
        program = os.path.join(usr, "bin", "novelfetch")
        sections = output(["readelf", "-S", program])
        check(os.access(program, os.X_OK) and ".text" in sections and ".debug_info" not in sections
              and ".symtab" not in sections, "/usr/bin/novelfetch is installed and stripped")

        entry = desktop_entry(os.path.join(usr, "share", "applications", "novelfetch.desktop"))
        check(entry.get("Name") == "Novel Downloader" and entry.get("Name[zh_CN]") == "小说下载器"
              and "Network" in entry.get("Categories", "").split(";"),
              "the desktop entry has its English and Chinese names and a category")
        check(entry.get("Exec", "").split()[:1] == ["novelfetch"], "the desktop entry starts the installed program")
        icon = entry.get("Icon", "")
        sizes = [png_size(os.path.join(usr, "share", "icons", "hicolor", "%dx%d" % (s, s), "apps", icon + ".png"))
                 for s in ICON_SIZES]
        check(sizes == [(s, s) for s in ICON_SIZES], "the desktop entry's icon %r at 16, 32, 48 and 256 pixels: %s"
              % (icon, sizes))

        manual = os.path.join(usr, "share", "man", "man1", "novelfetch.1.gz")
        check(os.path.exists(manual) and gzip.open(manual).read().startswith(b".TH NOVELFETCH 1"), "the manual page")
        doc = os.path.join(usr, "share", "doc", "novelfetch")
        check(os.path.exists(os.path.join(doc, "copyright")), "the copyright file")
        changelog = os.path.join(doc, "changelog.gz")
        latest = gzip.open(changelog).readline().decode() if os.path.exists(changelog) else ""
        check(latest.startswith("novelfetch (%s) " % version), "the changelog's latest entry is %s: %r"
              % (version, latest.strip()))


def runs_32bit():
    answer = subprocess.run([os.path.join(HERE, "..", "..", "tools", "probe-32bit")], stdout=subprocess.PIPE,
                            text=True, check=True).stdout.strip()
    return answer == "yes"


def opens_under_wine(folder, build):
    """Starts the program from the unpacked folder, as a reader double-clicks
    it, and waits for its dialog."""
    env = dict(os.environ, WINEPREFIX=os.path.join(build, "wineprefix"), WINEDEBUG="-all")
    with Display() as display:
        env = display.environment(env)
        stop_wine(env)
        program = subprocess.Popen([os.path.join(HERE, "..", "wine-run"), "novelfetch.exe"], cwd=folder, env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_for(lambda: x_window_by_name(env, CAPTION) or program.poll() is not None, 120)
            return x_window_by_name(env, CAPTION) is not None and program.poll() is None
        finally:
            stop_wine(env)
            program.wait(60)


def check_windows_zip(path, version, build):
    with zipfile.ZipFile(path) as archive, tempfile.TemporaryDirectory() as folder:
        names = sorted(archive.namelist())
        check(names == ["novelfetch.exe", "读我.txt"], "the zip holds novelfetch.exe and 读我.txt only: %s" % names)
        archive.extractall(folder)
        with open(os.path.join(folder, "读我.txt"), "rb") as f:
            readme = f.read()
        check(b"\n" not in readme.replace(b"\r\n", b"") and "小说下载器 %s" % version in readme.decode("gbk", "replace"),
              "读我.txt is code page 936 with Windows line ends and names this version")

        program = os.path.join(folder, "novelfetch.exe")
        headers = output(["i686-w64-mingw32-objdump", "-h", "-p", program])
        dlls = sorted({name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)})
        check(dlls and set(dlls) <= SYSTEM_DLLS, "the program imports only system DLLs: %s" % ", ".join(dlls))
        check(".debug_" not in headers, "the program carries no debug information")
        resources = output(["i686-w64-mingw32-windres", "-i", program, "-O", "rc"])
        check(" FILEVERSION %s, 0\n" % version.replace(".", ", ") in resources
              and 'VALUE "ProductVersion", "%s"' % version in resources, "the version resource says %s" % version)
        manifest = "".join(re.findall(r'^  "(.*)"$', resources.partition("RT_MANIFEST")[2], re.M))
        check(all(part in manifest for part in ('version=""%s.0""' % version, "Microsoft.Windows.Common-Controls",
                                                 'level=""asInvoker""', "<dpiAware", "<supportedOS")),
              "the manifest: this version, Common Controls 6, asInvoker, DPI awareness, supported systems")
        # Wine starts the i686 program only where the kernel runs 32-bit code.
        if runs_32bit():
            check(opens_under_wine(folder, build), "the program opens its dialog under Wine from the unpacked zip")
        else:
            print("not checked: whether the program opens under Wine from the unpacked zip, since this machine "
                  "runs no 32-bit code")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dist", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()
    check_debian_package(os.path.join(args.dist, "novelfetch_%s_amd64.deb" % args.version), args.version)
    check_windows_zip(os.path.join(args.dist, "novelfetch-%s-windows-i686.zip" % args.version), args.version,
                      os.path.abspath(args.build))
    for name in sorted(os.listdir(args.dist)):
        print("%s: %d bytes" % (name, os.path.getsize(os.path.join(args.dist, name))))
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
