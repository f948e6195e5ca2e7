#!/usr/bin/env python3
"""The download benchmark: one whole download of 1,000 chapters of 20 KB each
from the fixture server, every page answered 20 ms late, and in the same run
the same 1,000 pages fetched by curl --parallel --parallel-max 10.

  bench_download.py --program download_bench[.exe] --work DIR [--wine-run tests/wine-run]

Prints both wall times, their ratio and, for the native program, the peak
resident memory of the download beside the book's size. The floor is
1,000 x 20 ms / 10 workers = 2 s, plus up to one second of the download's
polling step. The book file is checked byte for byte; a wrong book fails the run.
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(TESTS, "fixtures", "sites"))
import make_sites  # noqa: E402

LATENCY_MS = 20


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--wine-run")
    args = parser.parse_args()
    work = os.path.abspath(args.work)
    sites = os.path.join(work, "sites")
    folder = os.path.join(work, "book")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(folder)
    site = make_sites.bench_site()
    site.write(sites)

    port_file = os.path.join(work, "port")
    server = subprocess.Popen([sys.executable, os.path.join(TESTS, "fixture_server.py"), "--root", sites,
                               "--port-file", port_file, "--latency", str(LATENCY_MS)],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(400):
            if os.path.exists(port_file):
                break
            time.sleep(0.05)
        with open(port_file) as f:
            base = "http://127.0.0.1:%d" % int(f.read())

        command = [os.path.abspath(args.program), base + "/bench/index.html"]
        if args.wine_run:
            command = [os.path.abspath(args.wine_run)] + command
        start = time.monotonic()
        run = subprocess.run(command, cwd=folder, capture_output=True, timeout=300)
        ours = time.monotonic() - start
        peak_kb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
        print(run.stdout.decode(errors="replace").strip())
        inner = float(run.stdout.split()[3]) if run.returncode == 0 else -1.0

        config = os.path.join(work, "curl.config")
        with open(config, "w") as f:
            for c in site.chapters:
                f.write('url = "%s/bench/%s"\noutput = "/dev/null"\n' % (base, c.page_name))
        start = time.monotonic()
        fetched = subprocess.run(["curl", "--silent", "--no-progress-meter", "--fail", "--parallel", "--parallel-max", "10", "--config",
                                  config], timeout=300)
        curl = time.monotonic() - start
    finally:
        server.terminate()
        server.wait(10)

    book = os.path.join(folder, site.title + ".txt")
    expected = site.book()
    good = os.path.isfile(book) and open(book, "rb").read() == expected
    where = "Wine" if args.wine_run else "native"
    print("download (%s): %.3f s from the table of contents to the closed book file" % (where, inner))
    print("process wall time %.3f s (the program's start and end included)" % ours)
    print("curl --parallel --parallel-max 10: %.3f s" % curl)
    print("ratio %.2f   (target on Linux: download <= 1.25 x curl + 1 s = %.3f s; floor 2 s + 1 s polling)"
          % (inner / curl, 1.25 * curl + 1))
    if not args.wine_run:
        size_mb = len(expected) / 1e6
        print("peak resident memory %.1f MB for a book of %.1f MB (target under %.1f MB)"
              % (peak_kb / 1024.0, size_mb, 3 * size_mb + 30))
    if run.returncode != 0 or fetched.returncode != 0 or not good:
        print("FAIL: download exit %d, curl exit %d, book %s" % (run.returncode, fetched.returncode,
                                                                 "correct" if good else "wrong or missing"))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
