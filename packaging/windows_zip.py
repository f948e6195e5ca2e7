#!/usr/bin/env python3
"""Writes the Windows download: a zip of exactly two files, novelfetch.exe
without its debug information and 读我.txt, the readme in code page 936 with
Windows line ends (what Notepad on a Chinese Windows opens as it is).

  windows_zip.py --program novelfetch.exe --strip STRIP --readme README.txt --output FILE.zip

The readme is read as UTF-8; a character that code page 936 cannot hold stops
the build rather than reaching readers as a question mark. The names are
stored in UTF-8 and flagged so, which Windows' own zip folders and the common
unpackers read. Both entries carry the program's time.
"""
import argparse
import os
import subprocess
import tempfile
import time
import zipfile

README_NAME = "读我.txt"


def entry(name, when, mode):
    # Made on Unix, with Unix permissions: unpackers on Windows read such zips
    # as they are, and some on Linux read a UTF-8 name only from them.
    info = zipfile.ZipInfo(name, time.localtime(when)[:6])
    info.create_system = 3
    info.external_attr = mode << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--strip", required=True)
    parser.add_argument("--readme", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    with open(args.readme, encoding="utf-8") as f:
        readme = f.read().replace("\r\n", "\n").replace("\n", "\r\n").encode("gbk")
    when = os.stat(args.program).st_mtime
    with tempfile.TemporaryDirectory() as work:
        stripped = os.path.join(work, "novelfetch.exe")
        subprocess.run([args.strip, "-o", stripped, args.program], check=True)
        with open(stripped, "rb") as f:
            program = f.read()
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    partial = args.output + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        archive.writestr(entry("novelfetch.exe", when, 0o100755), program, compresslevel=9)
        archive.writestr(entry(README_NAME, when, 0o100644), readme, compresslevel=9)
    os.replace(partial, args.output)
    print("%s: %d bytes (novelfetch.exe %d bytes)" % (args.output, os.path.getsize(args.output), len(program)))


if __name__ == "__main__":
    main()
