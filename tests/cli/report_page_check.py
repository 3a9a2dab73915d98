#!/usr/bin/env python3
"""The yield page (report --html) in headless Chromium: the figures of the DOM that Chromium
built, against report --json on the same logs (a station's of virtual headsets, and made-up logs of
a line of several days, stations and hubs); no request leaving the page; nothing cut off at a
phone's width or in print; screenshots at a laptop's and a phone's width into --screenshots."""

import argparse
import json
import os
import random
import subprocess
import sys
import tempfile
from datetime import datetime, timedelta, timezone
from decimal import ROUND_HALF_UP, Decimal

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chromium import Chromium  # noqa: E402

LAPTOP, PHONE = 1366, 390


# The page's own formats: a number to one decimal as JavaScript's toFixed rounds it (half up, on
# the number's exact binary value), a dash for none.
def fixed(value):
    return str(Decimal(value).quantize(Decimal("0.1"), rounding=ROUND_HALF_UP))


def percent(value):
    return "–" if value is None else fixed(value) + " %"


def seconds(ms):
    return "–" if ms is None else fixed(ms / 1000) + " s"


def ratio(part, whole):
    return None if whole == 0 else 100 * part / whole


def when(text):  # "2026-12-07T10:00:00.000Z" -> "2026-12-07 10:00:00"
    return text.replace("T", " ").split(".")[0].rstrip("Z")


def expected_tables(report):
    """Every table of figures the page should show for `report`, by id, as rows of cell texts."""
    tables = {}
    line = report["line"]
    if report["records"] > 0 and line["runs"] > 0:
        def cells(part):
            return [str(part["flashed"]), str(part["headsets"]), percent(part["yield_percent"])]
        tables["yield-table"] = [[r["day"], r["station"], *cells(r["first_pass"]), *cells(r["final"])]
                                 for r in line["by_day_station"]]
        tables["hours-table"] = [[h["hour"][:10] + " " + h["hour"][11:] + ":00", str(h["flashed"]),
                                  str(h["failed"])] for h in line["by_hour"]]
        running, rows = 0, []
        for i, r in enumerate(line["failures_by_reason"]):
            running += r["count"]
            rows.append([str(i + 1), r["reason"], str(r["count"]), percent(ratio(r["count"], line["failed"])),
                         percent(ratio(running, line["failed"]))])
        if rows:
            tables["reasons-table"] = rows
        if line["failures_by_port"]:
            tables["ports-table"] = [[p["station"], p["usb_port"], str(p["runs"]), str(p["failed"]),
                                      percent(ratio(p["failed"], p["runs"]))] for p in line["failures_by_port"]]
        if line["durations"]["runs"]:
            tables["durations-table"] = [[seconds(b["from_ms"]), seconds(b["to_ms"]), str(b["runs"])]
                                         for b in line["durations"]["histogram"]]
    if report["records"] > 0:
        if report["failed_headsets"]:
            tables["failed-table"] = [[h["mcu_id"], h["station"], h["usb_port"] or "–",
                                       h["reason"] or h["outcome"], when(h["ended"])]
                                      for h in report["failed_headsets"]]
        if report["groups"]:
            tables["groups-table"] = [[g["image_sha256"][:12] + "…", g["day"], g["station"], str(g["runs"]),
                                       str(g["flashed"]), str(g["failed"]), str(g["not_started"]),
                                       percent(g["yield_percent"]), seconds(g["median_ms"])]
                                      for g in report["groups"]]
    return tables


def expected_key(line):
    return {"Runs": str(line["runs"]), "Flashed": str(line["flashed"]), "Failed": str(line["failed"]),
            "First-pass yield": percent(line["first_pass"]["yield_percent"]),
            "Final yield": percent(line["final"]["yield_percent"]),
            "Headsets per hour": "–" if line["headsets_per_hour"] is None else fixed(line["headsets_per_hour"]),
            "Median run": seconds(line["durations"]["median_ms"]),
            "95th percentile": seconds(line["durations"]["p95_ms"])}


READ_PAGE = r"""(() => {
  const cells = row => [...row.cells].map(c => c.textContent);
  const tables = {};
  for (const t of document.querySelectorAll("table.figures[id]")) {
    tables[t.id] = [...t.tBodies[0].rows].filter(r => !r.classList.contains("history")).map(cells);
  }
  const key = {};
  for (const d of document.querySelectorAll("#key > div")) key[d.querySelector("dt").textContent] = d.querySelector("dd").textContent;
  const bars = {};
  for (const s of document.querySelectorAll("section[id]")) bars[s.id] = [...s.querySelectorAll("svg rect")].map(r => ({
      x: +r.getAttribute("x"), width: +r.getAttribute("width"), height: +r.getAttribute("height"), title: r.textContent}));
  const markers = {};
  for (const m of document.querySelectorAll("line[data-marker]")) markers[m.dataset.marker] = +m.getAttribute("x1");
  return {tables, key, bars, markers, title: document.title, selection: document.getElementById("selection").textContent,
          nothing: document.getElementById("nothing") ? document.getElementById("nothing").textContent : null,
          headings: [...document.querySelectorAll("h2")].map(h => h.textContent),
          unreadable: [...document.querySelectorAll("#unreadable-lines li")].map(li => li.textContent),
          elements: [...new Set([...document.querySelectorAll("body *")].map(e => e.localName))].sort()};
})()"""

# Opens, closes and opens again every headset's earlier records; each as [whether they were shut
# before, open after, shut again and open again as the button says, their rows].
OPEN_HISTORIES = r"""(() => [...document.querySelectorAll("#failed-table button.open")].map(b => {
  const row = b.closest("tr"), next = () => row.nextElementSibling;
  const shown = () => next() && next().classList.contains("history") && !next().hidden &&
                      b.getAttribute("aria-expanded") === "true";
  const before = shown();
  b.click();
  const opened = shown();
  b.click();
  const closed = !shown() && b.getAttribute("aria-expanded") === "false";
  b.click();
  return [!before && opened && closed && shown(),
          [...next().querySelector("table").tBodies[0].rows].map(r => [...r.cells].map(c => c.textContent))];
}))()"""

# Boxes whose content is cut off (scrolled, or wider than the box) where nothing may be.
CUT_OFF = r"""(() => [...document.querySelectorAll(SELECTOR)]
  .filter(e => e.scrollHeight > e.clientHeight + 1 || e.scrollWidth > e.clientWidth + 1)
  .map(e => e.id || e.className || e.localName))()"""


# A made-up line: three days, three stations of two hubs each (one port of station 2 bad), 17
# reasons (more than the chart's 15), failed headsets run again until flashed (or not: one fails
# twelve times, more than the ten earlier records shown), a long run now and then, records without
# an MCU ID, headsets not started, a second image, and records from before IDs.
def write_line_log(path):
    rng = random.Random(7)
    reasons = [f"reason {i:02d}: " + "the headset did not answer its report " * (1 + i % 3) for i in range(17)]
    stamp = lambda t: t.strftime("%Y-%m-%dT%H:%M:%S.") + f"{t.microsecond // 1000:03d}Z"  # noqa: E731
    records, serial = [], 0

    def run(ended, station, port, mcu, outcome, reason="", image="3f2a9c1e" + "7b" * 28, ms=None):
        ms = ms if ms is not None else int(rng.gauss(11000, 700)) + (30000 if rng.random() < 0.01 else 0)
        record = {"started": stamp(ended - timedelta(milliseconds=ms)), "ended": stamp(ended),
                  "tool_version": "1.0.0.5", "station": station, "operator": "ana", "image_path": "fw.bin",
                  "image_size": 40960, "image_sha256": image, "image_checksum": "0x0012ABCD", "usb_port": port,
                  "path": "/dev/hidraw3", "mcu_id": mcu, "firmware_before": "0024", "boot_firmware_version": "0102",
                  "firmware_after": "0025" if outcome == "flashed" else "", "outcome": outcome, "reason": reason,
                  "exit_status": 0 if outcome == "flashed" else 5, "duration_ms": ms, "bytes_sent": 40960}
        if len(records) % 50:  # every fiftieth from before IDs
            record = {"id": "%08x-0000-4000-8000-%012x" % (len(records), rng.getrandbits(48)), **record}
        records.append(record)

    retry = []
    for day in range(3):
        for hour in [h for h in range(6, 22) if h not in (12, 17 + day)]:
            for station in range(1, 4):
                for slot in range(4 + rng.randrange(3)):
                    ended = datetime(2026, 12, 7 + day, hour, rng.randrange(60), rng.randrange(60), tzinfo=timezone.utc)
                    port = f"1-{1 + slot % 2}.{1 + rng.randrange(4 if slot % 2 == 0 else 7)}"
                    name = f"line-3/station-{station}"
                    if retry and rng.random() < 0.3:
                        mcu = retry.pop(0)
                    else:
                        serial += 1
                        mcu = f"0403{serial:08X}0C0B0A09BEEF"
                    bad = 0.4 if (station, port) == (2, "1-2.5") else 0.05
                    if rng.random() < bad:
                        reason = reasons[rng.randrange(17) if rng.random() < 0.5 else int(rng.expovariate(0.5)) % 17]
                        run(ended, name, port, mcu, "not back" if rng.random() < 0.1 else "failed",
                            "" if reason == reasons[16] else reason)
                        retry.append(mcu)
                    else:
                        run(ended, name, port, mcu, "flashed")
    for i in range(12):
        run(datetime(2026, 12, 9, 20, 30 + i, tzinfo=timezone.utc), "line-3/station-1", "1-1.2",
            "0403FFFFFFFF0C0B0A09DEAD", "failed", reasons[i])
    for i in range(2):
        run(datetime(2026, 12, 8, 9, i, tzinfo=timezone.utc), "line-3/station-3", "", "", "failed", reasons[0])
        run(datetime(2026, 12, 8, 10, i, tzinfo=timezone.utc), "line-3/station-3", "1-1.1",
            f"0403EEEE{i:04X}0C0B0A09DEAD", "not started", "left alone: it was asked to be")
    run(datetime(2026, 12, 9, 7, 15, tzinfo=timezone.utc), "line-3/station-2", "1-2.1", "0403DDDD00000C0B0A09DEAD",
        "flashed", image="b71d04a6" + "c" * 56)
    records.sort(key=lambda r: r["ended"])
    with open(path, "w") as out:
        out.writelines(json.dumps(r) + "\n" for r in records)


def write_records(path, outcomes):
    """A station's log of one record per outcome, one hour apart from 14:00."""
    with open(path, "w") as out:
        for i, outcome in enumerate(outcomes):
            out.write(json.dumps({"id": f"{i:08x}-0000-4000-8000-000000000000",
                                  "ended": f"2026-12-09T14:{10 * i:02d}:00.000Z", "station": "bench-3",
                                  "image_sha256": "b71d04a6" + "c" * 56, "usb_port": f"1-2.{i + 1}",
                                  "mcu_id": f"{i:024X}", "outcome": outcome, "reason": "",
                                  "duration_ms": 9600 + 20 * i}) + "\n")



class Checks:
    def __init__(self):
        self.passed, self.failed = 0, 0

    def equal(self, what, got, expected):
        if got == expected:
            self.passed += 1
            return
        self.failed += 1
        if isinstance(got, dict) and isinstance(expected, dict):  # name the parts that differ
            for key in sorted(set(got) | set(expected)):
                if got.get(key) != expected.get(key):
                    print(f"FAILED {what}, {key}:")
                    self._show(got.get(key), expected.get(key))
        else:
            print(f"FAILED {what}:")
            self._show(got, expected)

    @staticmethod
    def _show(got, expected):
        if isinstance(got, list) and isinstance(expected, list):
            rows = [i for i in range(max(len(got), len(expected)))
                    if i >= len(got) or i >= len(expected) or got[i] != expected[i]]
            print(f"  {len(got)} rows against {len(expected)}; the first that differs, {rows[0]}:")
            got, expected = got[rows[0]:rows[0] + 1], expected[rows[0]:rows[0] + 1]
        print(f"  got      {json.dumps(got, ensure_ascii=False)[:1500]}\n"
              f"  expected {json.dumps(expected, ensure_ascii=False)[:1500]}")

    def true(self, what, condition, detail=""):
        self.equal(what + (f" ({detail})" if detail else ""), bool(condition), True)


def check_page(checks, browser, page, report, name, screenshots):
    """The page at a laptop's and a phone's width: its figures against `report`, no request,
    nothing cut off at a phone's width or in print; screenshots of each."""
    tables = expected_tables(report)
    for width, mobile in ((LAPTOP, False), (PHONE, True)):
        browser.open(page, width, mobile=mobile)
        tag = f"{name} at {width} px"
        seen = browser.evaluate(READ_PAGE)
        checks.equal(tag + ": no request leaves the page", browser.requests, [])
        checks.equal(tag + ": no error, no refused load", browser.problems, [])
        checks.equal(tag + ": its tables of figures", seen["tables"], tables)
        checks.equal(tag + ": its title", seen["title"], "Line yield")
        checks.true(tag + ": no wider than the screen",
                    browser.evaluate("document.documentElement.scrollWidth") <= width)
        browser.screenshot(os.path.join(screenshots, f"{name}-{'phone' if mobile else 'laptop'}.png"))
    line = report["line"]
    if report["records"] > 0 and line["runs"] > 0:
        checks.equal(name + ": the key figures", seen["key"], expected_key(line))
        check_charts(checks, seen, line, name)
    else:  # nothing to chart: the page says so, and draws no empty axes
        checks.true(name + ": says there is nothing to chart", seen["nothing"], seen["nothing"])
        checks.equal(name + ": draws no chart", sum(len(b) for b in seen["bars"].values()), 0)
    unreadable = report["unreadable"]
    checks.equal(name + ": the unreadable lines named",
                 seen["unreadable"], [f"{u['where']}: {u['why']}" for u in unreadable["lines"]])
    checks.true(name + ": the unreadable lines counted", f"Unreadable lines: {unreadable['count']}" in seen["headings"])
    records = f"{report['records']} records"
    if report["outside_filter"]:
        records += f" (and {report['outside_filter']} outside the filter)"
    checks.true(name + ": the records counted above the figures", records in seen["selection"], seen["selection"])

    # Each failed headset's row opens to its earlier records.
    histories = browser.evaluate(OPEN_HISTORIES)
    expected = [[True, [[when(r["ended"]), r["station"], r["usb_port"] or "–", r["image_sha256"][:12] + "…",
                         r["outcome"], r["reason"]] for r in h["history"]]]
                for h in report["failed_headsets"] if h["history"]]
    checks.equal(name + ": the failed headsets' earlier records, opened", histories, expected)

    # Printed (700 px: an A4 page's width within its margins): no table cut off in a box, every
    # chart within the page; the printout itself beside the screenshots.
    browser.open(page, 700, media="print")
    browser.evaluate(OPEN_HISTORIES)
    cut = browser.evaluate(CUT_OFF.replace("SELECTOR", json.dumps(".scroll, .wide, figure")))
    checks.equal(name + ": nothing cut off in print", cut, [])
    checks.true(name + ": no wider than a printed page",
                browser.evaluate("document.documentElement.scrollWidth") <= 700)
    browser.pdf(os.path.join(screenshots, f"{name}.pdf"))
    return seen


def check_charts(checks, seen, line, name):
    bars = seen["bars"]
    drawn = sum(p["yield_percent"] is not None for r in line["by_day_station"] for p in (r["first_pass"], r["final"]))
    checks.equal(name + ": a bar per yield", len(bars["yield"]), drawn)
    checks.equal(name + ": flashed and failed bars per hour", len(bars["hours"]), 2 * len(line["by_hour"]))
    reasons = [b["height"] for b in bars.get("reasons", [])]
    checks.equal(name + ": the reasons' bars, the most frequent first", reasons, sorted(reasons, reverse=True))
    checks.equal(name + ": a bar per reason, up to 15", len(reasons), min(15, len(line["failures_by_reason"])))
    # The median and the 95th percentile marked within the bar of their bin.
    for marker, ms in (("median", line["durations"]["median_ms"]), ("95th percentile", line["durations"]["p95_ms"])):
        b = next(b for b in line["durations"]["histogram"] if b["from_ms"] <= ms < b["to_ms"])
        bar = next(r for r in bars["durations"] if r["title"].startswith(f"{seconds(b['from_ms'])} to"))
        x = seen["markers"][marker]
        checks.true(f"{name}: the {marker} marked within its bin", bar["x"] - 1 <= x <= bar["x"] + bar["width"] + 1,
                    f"{x} against {bar}")


def main():
    arguments = argparse.ArgumentParser(description=__doc__)
    arguments.add_argument("--cli", required=True)
    arguments.add_argument("--screenshots", required=True, help="unless $OBRINT_SCREENSHOTS says where")
    options = arguments.parse_args()
    options.screenshots = os.environ.get("OBRINT_SCREENSHOTS") or options.screenshots
    os.makedirs(options.screenshots, exist_ok=True)
    checks = Checks()
    with tempfile.TemporaryDirectory(prefix="obrint-page-") as work:
        check_all(checks, options, work)
    print(f"{checks.passed} passed, {checks.failed} failed")
    return 1 if checks.failed else 0


def check_all(checks, options, work):
    def cli(*arguments):  # in the scratch folder, where the logs are
        return subprocess.run([options.cli, *arguments], capture_output=True, text=True, cwd=work)

    # A station of 8 virtual headsets, two of them failing, and a log of another station with a
    # line that is not JSON and texts that would be markup if the page ever read them as such.
    station_log, other_log = "a.jsonl", "b.jsonl"
    cli("sample-image", "demo.bin")
    cli("--sim", "8", "--sim-plug", "1500", "--sim-fault", "2:block-sum", "--sim-fault", "5:not-back",
        "station", "--station", "bench-3", "--max", "8", "--log", station_log, "demo.bin")
    with open(os.path.join(work, station_log)) as log:
        records = log.readlines()
    checks.equal("the station's records", len(records), 8)
    record = json.loads(records[0])
    record.update(station='<img src="http://127.0.0.1:9/station.png">', outcome="failed", mcu_id="0" * 24,
                  reason='</script><script>document.title="injected"</script>')
    with open(os.path.join(work, other_log), "w") as log:
        log.write(json.dumps(record) + "\n{oops\n")

    with Chromium() as browser:
        # The interception itself: a page that asks for an image is caught, with its policy
        # (refused) and without it (requested).
        page = os.path.join(work, "real.html")
        made = cli("report", "--html", page, station_log, other_log)
        checks.equal("report --html writes the page", made.returncode, 0)
        with open(page) as text:
            html = text.read()
        probe = html.replace("<main", '<img src="http://127.0.0.1:9/probe.png"><main', 1)
        for name, variant in (("refused", probe), ("requested", probe.replace("Content-Security-Policy", "x-none", 1))):
            path = os.path.join(work, name + ".html")
            with open(path, "w") as out:
                out.write(variant)
            browser.open(path, LAPTOP)
            caught = browser.requests if name == "requested" else browser.problems
            checks.true(f"a request from the page is seen: {name}", caught, f"{browser.requests} {browser.problems}")

        report = json.loads(cli("--json", "report", station_log, other_log).stdout)
        seen = check_page(checks, browser, page, report, "yield-logs", options.screenshots)
        checks.equal("no markup of the logs is read as markup", [e for e in seen["elements"] if e in ("img", "script")],
                     ["script"])

        empty = os.path.join(work, "empty.html")
        cli("report", "--html", empty, "--since", "2099-01-01", station_log, other_log)
        report = json.loads(cli("--json", "report", "--since", "2099-01-01", station_log, other_log).stdout)
        seen = check_page(checks, browser, empty, report, "yield-empty", options.screenshots)
        checks.equal("an empty selection says so", seen["nothing"],
                     f"No records in this selection: all {report['outside_filter']} records of the logs are outside the filter.")

        # Made-up logs: a line of several days; a bench whose every headset was flashed, in one
        # hour and one bin; one whose headsets were all left alone.
        write_line_log(os.path.join(work, "line.jsonl"))
        write_records(os.path.join(work, "all-flashed.jsonl"), ["flashed"] * 3)
        write_records(os.path.join(work, "not-started.jsonl"), ["not started"] * 2)
        for name in ("line", "all-flashed", "not-started"):
            page = os.path.join(work, name + ".html")
            checks.equal(f"report --html {name}", cli("report", "--html", page, name + ".jsonl").returncode, 0)
            report = json.loads(cli("--json", "report", name + ".jsonl").stdout)
            check_page(checks, browser, page, report, "yield-" + name, options.screenshots)

if __name__ == "__main__":
    sys.exit(main())
