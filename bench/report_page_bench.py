#!/usr/bin/env python3
"""The yield page over 100,000 records: obrint-cli report --html as a process (wall time), and the
page opened in headless Chromium (from the request to the load event, by which the script has
drawn every chart and table, and the first paint). Logs of the same shape as report_bench.cpp's:
4 stations, 2 images, 7 days, 95 % flashed; 5,000 or 100,000 distinct headsets. Medians of
--runs runs; the browser is started once, before the runs.

    bench/report_page_bench.py --cli build/bench/obrint-cli
"""

import argparse
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time
from datetime import datetime, timedelta, timezone

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "cli"))
from chromium import Chromium  # noqa: E402

REASONS = ["block 17: the headset's sum 0x1A2B differs from 0x1A2C",
           "the headset refused the Restart report", "no boot firmware within 10 s of the restart"]


# Milliseconds from the request to the first paint with content, once the page has painted.
FIRST_PAINT = """new Promise(done => new PerformanceObserver(list => {
  const paint = list.getEntriesByName("first-contentful-paint")[0];
  if (paint) done(paint.startTime);
}).observe({type: "paint", buffered: true}))"""


def write_log(path, records, headsets):
    rng = random.Random(records)
    start = datetime(2026, 12, 7, tzinfo=timezone.utc)
    span = timedelta(days=7)
    stamp = lambda t: t.strftime("%Y-%m-%dT%H:%M:%S.") + f"{t.microsecond // 1000:03d}Z"  # noqa: E731
    with open(path, "w") as out:
        for i in range(records):
            ended = start + span * i / records
            roll = rng.randrange(100)
            outcome = "flashed" if roll < 95 else "failed" if roll < 98 else "not back" if roll < 99 else "not started"
            out.write(json.dumps({
                "id": f"{i:08x}-0000-4000-8000-{headsets:012x}", "started": stamp(ended - timedelta(seconds=11)), "ended": stamp(ended), "tool_version": "1.4.0.0",
                "station": f"line-3/station-{i % 4 + 1}", "operator": f"operator-{i % 9}",
                "image_path": "C:\\firmware\\headset-app-0025.bin", "image_size": 40960,
                "image_sha256": ["3f2a9c1e", "b71d04a6"][i // 4 % 2] + "c" * 56, "image_checksum": "0x0012ABCD",
                "usb_port": f"1-2.{i % 8 + 1}", "path": "/dev/hidraw3",
                "mcu_id": f"0403{(i * 7919) % headsets:08X}0C0B0A09DEAD", "firmware_before": "0024",
                "boot_firmware_version": "0102", "firmware_after": "0025" if roll < 95 else "", "outcome": outcome,
                "reason": REASONS[rng.randrange(3)] if 95 <= roll < 99 else "", "exit_status": 0 if roll < 95 else 5,
                "duration_ms": 9500 + rng.randrange(3000), "bytes_sent": 40960}) + "\n")


def main():
    arguments = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    arguments.add_argument("--cli", required=True)
    arguments.add_argument("--runs", type=int, default=5)
    options = arguments.parse_args()
    print("| Records / headsets | report --html, wall | page size | opened: request to load event | first paint |")
    print("|---|---|---|---|---|")
    with tempfile.TemporaryDirectory(prefix="obrint-page-bench-") as work, Chromium() as browser:
        for headsets in (5000, 100000):
            log, page = os.path.join(work, f"{headsets}.jsonl"), os.path.join(work, f"{headsets}.html")
            write_log(log, 100000, headsets)
            walls = []
            for _ in range(options.runs):
                started = time.monotonic()
                subprocess.run([options.cli, "report", "--html", page, log], check=True, capture_output=True)
                walls.append(time.monotonic() - started)
            loads, paints = [], []
            for _ in range(options.runs):
                loads.append(browser.open(page, 1366))
                paints.append(browser.evaluate(FIRST_PAINT) / 1000)
                assert not browser.requests and not browser.problems, (browser.requests, browser.problems)
            print(f"| 100,000 / {headsets:,} | {statistics.median(walls):.2f} s | {os.path.getsize(page) / 1024:.0f} KiB "
                  f"| {statistics.median(loads):.2f} s | {statistics.median(paints):.2f} s |")


if __name__ == "__main__":
    main()
