#!/usr/bin/env python3
"""A private X server for one test: Xvfb picks a free display number itself
(-displayfd), so tests that run at the same time never share or race for one.

As a program: xvfb.py COMMAND [ARGS...] runs the command with DISPLAY set and
exits with its exit code.
"""
import os
import subprocess
import sys


class Display:
    def __init__(self, width=1024, height=768):
        self.size = "%dx%dx24" % (width, height)
        self.server = None
        self.name = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.size, "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            self.server.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        return self

    def environment(self, base=None):
        env = dict(os.environ if base is None else base)
        env["DISPLAY"] = self.name
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def __exit__(self, *details):
        self.server.terminate()
        try:
            self.server.wait(10)
        except subprocess.TimeoutExpired:
            self.server.kill()
            self.server.wait()


def main():
    with Display() as display:
        return subprocess.call(sys.argv[1:], env=display.environment())


if __name__ == "__main__":
    sys.exit(main())
