#!/usr/bin/env python3
"""The ledger's dashboard in a real browser: `corvane serve` over a ledger of known attempts
(written by tools/ledgerfill through the ledger's own code), the chart's counts and the yield,
search and a module's page, a hostile name shown as text; and a station that serves it beside
its board. See webrig.py for the options."""
import json
import os
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import webrig  # noqa: E402
from webrig import By, fetch, under_wine, wait_for  # noqa: E402

HOSTILE = "<img src=x onerror=alert(1)>"
# (minute of 2025-05-20, station, address, name, result)
ROWS = [("10:05", "A", "00:1A:7D:00:00:01", "MOD-1", "ok"),
        ("10:20", "A", "00:1A:7D:00:00:02", "MOD-2", "timeout"),
        ("10:40", "A", "00:1A:7D:00:00:02", "MOD-2", "ok"),
        ("11:10", "A", "00:1A:7D:00:00:03", "MOD-3", "ok"),
        ("11:15", "B", "00:1A:7D:00:00:04", HOSTILE, "ok"),
        ("11:30", "B", "00:1A:7D:00:00:05", "MOD-5", "no answer")]
# The span that holds them all, whatever the day the test runs.
SPAN = "?span=6h&until=2025-05-20T12:59"


def known_ledger(rig):
    ledgerfill = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(rig.args.corvane))),
                              "tools", "ledgerfill", "ledgerfill")
    path = os.path.join(rig.work, "line.db")
    lines = "".join(json.dumps({"time": f"2025-05-20T{t}:00.000Z", "station": s, "address": a,
                                "name": n, "result": r, "message": f"said {HOSTILE}"}) + "\n"
                    for t, s, a, n, r in ROWS)
    subprocess.run([ledgerfill, path], input=lines, text=True, check=True)
    return path


def serve(rig, ledger):
    # Under Wine the file is reached through the drive that maps the root.
    where = "Z:" + ledger.replace("/", "\\") if rig.wine else ledger
    program = rig.corvane("serve", "--ledger", where, "--http", "127.0.0.1:0")
    program.wait_url()
    return program


def cells(driver, selector):
    return [[td.text for td in row.find_elements(By.TAG_NAME, "td")]
            for row in driver.find_elements(By.CSS_SELECTOR, selector)]


@under_wine
def test_chart_yield_search_and_a_modules_page(rig):
    program = serve(rig, known_ledger(rig))
    driver = rig.browser()
    driver.get(program.url + SPAN)
    bars = {g.get_attribute("data-hour"): g.get_attribute("data-total")
            for g in driver.find_elements(By.CSS_SELECTOR, "svg.chart g.hour")}
    assert bars == {"2025-05-20T10": "2", "2025-05-20T11": "2"}, bars
    stations = sorted(r.get_attribute("data-count") + r.get_attribute("data-station")
                      for r in driver.find_elements(By.CSS_SELECTOR, "g.hour rect.bar"))
    assert stations == ["1A", "1B", "2A"], stations
    assert [c[:3] for c in cells(driver, "table.yield tr[data-station]")] == [
        ["A", "3", "0"], ["B", "1", "1"]]
    # The hostile name is text in the latest attempts: no element made of it, no script run.
    assert HOSTILE in [c[4] for c in cells(driver, "table.attempts tr") if c]
    assert not driver.find_elements(By.CSS_SELECTOR, "main img")
    assert driver.execute_script("return document.title").startswith("Ledger ")
    webrig.shot(driver, "dashboard.png")

    box = driver.find_element(By.CSS_SELECTOR, "form.search input[name=q]")
    box.send_keys("mod-2")
    box.submit()
    wait_for("the search's results", lambda: "/ledger/search" in driver.current_url)
    found = cells(driver, "table.found tr")
    assert [f[:3] for f in found if f] == [["2", "00:1A:7D:00:00:02", "MOD-2"]], found
    driver.find_element(By.LINK_TEXT, "00:1A:7D:00:00:02").click()
    wait_for("the module's page", lambda: "/ledger/module" in driver.current_url)
    results = [c[5] for c in cells(driver, "table.attempts tr") if c]
    assert results == ["timeout", "ok"], results
    assert program.stop() == 0


@under_wine
def test_bounds_exports_and_the_way_in(rig):
    program = serve(rig, known_ledger(rig))
    base = program.url
    status, headers, body = fetch(base + "?span=" + "9" * 40)
    assert (status, body.count("\n")) == (400, 1), (status, body)
    assert "script-src 'self'" in headers["Content-Security-Policy"]
    status, headers, body = fetch(base + "export.csv?station=B")
    assert status == 200 and "ledger.csv" in headers["Content-Disposition"], headers
    assert body.splitlines()[0].startswith("time,station,version,port,address,number")
    assert len(body.splitlines()) == 3, body
    status, _, body = fetch(base + "export.jsonl")
    assert [json.loads(line)["result"] for line in body.splitlines()] == [r[4] for r in ROWS]
    assert fetch(base + "nothing")[0] == 404
    driver = rig.browser()
    driver.get(base.replace("/ledger/", "/"))
    wait_for("the way to the dashboard", lambda: driver.current_url.endswith("/ledger/"))


def test_a_station_serves_its_ledger_beside_its_board(rig):
    rig.modsim("--address", "00:1A:7D:00:00:01")
    ledger = os.path.join(rig.work, "station.db")
    station = rig.station("--pin", "4321", "--ledger", ledger, "--station", "bench-1")
    driver = rig.browser()

    def programmed():
        driver.get(station.url + "ledger/")
        return cells(driver, "table.yield tr[data-station]")
    assert [c[:3] for c in wait_for("the module in the dashboard", programmed)] == [
        ["bench-1", "1", "0"]]
    assert station.stop() == 130


if __name__ == "__main__":
    webrig.main(globals())
