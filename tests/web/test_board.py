#!/usr/bin/env python3
"""The station's board in a real browser: tiles that follow the modules, a hostile name shown
as text, two browsers alike, the token and its cookie, and a page that follows a restart.
See webrig.py for the options."""
import os
import socket
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import webrig  # noqa: E402
from webrig import By, fetch, link_text, tiles, under_wine, wait_for  # noqa: E402

HOSTILE = "<img src=x onerror=alert(1)>"
# A module holds at most 16 printable characters.
HOSTILE_NAME = "<img src=x>"
TOKEN = "k3Jd-8fhQ2_zpL0w7Yx9"


def tile(driver, n):
    return tiles(driver)[n - 1]


@under_wine
def test_tiles_follow_the_modules(rig):
    """Four slots: programmed, hostile text (a module's name, a label from the slots' file), a
    module pulled mid-exchange (failed, then removed), an empty jig that gets a module later;
    then one taken off."""
    first = rig.modsim("--address", "00:1A:7D:00:00:01")
    hostile = rig.modsim("--address", "00:1A:7D:00:00:02", "--name", HOSTILE_NAME)
    rig.modsim("--address", "00:1A:7D:00:00:03", "--remove-after", "4")
    late = rig.modsim("--address", "00:1A:7D:00:00:04", "--absent")
    labels = os.path.join(rig.work, "slots.csv")
    with open(labels, "w") as f:
        for sim, label in zip(rig.sims, ("Jig A", HOSTILE, "Jig C", "Jig D")):
            f.write(f"{sim.port},{label}\n")
    station = rig.station("--pin", "4321", "--slots", labels)
    driver = rig.browser()
    driver.get(station.url)
    wait_for("slots 1 and 2 ok", lambda: [t["state"] for t in tiles(driver)[:2]] == ["ok"] * 2)
    wait_for("slot 3's failure in words", lambda: tile(driver, 3)["failure"])
    check = tiles(driver)
    assert check[0]["name"] == "CORVANE-BT", check
    assert (check[1]["label"], check[1]["name"]) == (HOSTILE, HOSTILE_NAME), check
    assert check[3]["word"] == "Waiting", check
    # Shown as text: no element made from it, and no script ran (an alert would be open).
    assert not driver.find_elements(By.CSS_SELECTOR, "#tiles img")
    assert driver.execute_script("return document.title") == "Corvane station"

    late.command("insert --name LATE")
    wait_for("slot 4 programmed", lambda: tile(driver, 4)["state"] == "ok")
    assert tile(driver, 4)["name"] == "LATE"
    webrig.shot(driver, "board.png")
    first.command("remove")
    wait_for("slot 1 empty", lambda: tile(driver, 1)["word"] == "Waiting")
    assert (tile(driver, 1)["name"], tile(driver, 1)["address"]) == ("", "")
    assert driver.find_element(By.ID, "ok").text == "3"
    assert station.stop() == 130


def test_two_browsers_see_one_board(rig):
    rig.modsim("--address", "00:1A:7D:00:00:11")
    rig.modsim("--address", "00:1A:7D:00:00:12", "--absent")
    station = rig.station("--pin", "4321")
    one, two = rig.browser(), rig.browser()
    for driver in (one, two):
        driver.get(station.url)
    wait_for("slot 1 ok in both", lambda: [tile(d, 1)["state"] for d in (one, two)] == ["ok"] * 2)
    rig.sims[1].command("insert --name SECOND")
    wait_for("slot 2 ok in both", lambda: [tile(d, 2)["state"] for d in (one, two)] == ["ok"] * 2)
    assert tiles(one) == tiles(two)
    station.stop()


@under_wine
def test_token(rig):
    """Another address needs a token; with one, a request without it gets 401, a browser shows
    it once and then follows by its cookie, a script sends it as Bearer."""
    rig.modsim()
    refused = rig.corvane("station", "--ports", rig.sims[0].port, "--http", "0.0.0.0:0")
    assert refused.proc.wait(30) == 64
    assert "--http-token" in refused.stderr() and "loopback" in refused.stderr()

    station = rig.station("--pin", "4321", "--http-token", rig.token_file(TOKEN),
                          http="0.0.0.0:0")
    assert TOKEN not in station.stderr()
    url = station.url.replace("0.0.0.0", "127.0.0.1")
    for path in ("", "board/state", "board/events", "assets/board.js", "nowhere"):
        assert fetch(url + path)[0] == 401, path
    assert fetch(url + "board/state", {"Authorization": "Bearer " + TOKEN})[0] == 200
    assert fetch(url + "board/state", {"Authorization": "Bearer " + TOKEN[:-1]})[0] == 401

    driver = rig.browser()
    driver.get(url + "?token=" + TOKEN)
    assert driver.current_url == url, driver.current_url
    cookie = driver.get_cookie("corvane_token")
    assert cookie["httpOnly"] and cookie["sameSite"] == "Strict", cookie
    wait_for("slot 1 ok by the cookie", lambda: tile(driver, 1)["state"] == "ok")
    assert link_text(driver) == "Station running"
    station.stop()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@under_wine
def test_page_follows_a_restart(rig):
    rig.modsim("--address", "00:1A:7D:00:00:21")
    address = f"127.0.0.1:{free_port()}"
    station = rig.station("--pin", "4321", http=address)
    driver = rig.browser()
    driver.get(station.url)
    wait_for("slot 1 ok", lambda: tile(driver, 1)["state"] == "ok")
    station.stop()
    wait_for("the page says the station stopped", lambda: "stopped" in link_text(driver) or
             "not running" in link_text(driver))
    rig.sims[0].command("remove")
    rig.sims[0].command("insert --address 00:1A:7D:00:00:22 --name AGAIN")
    again = rig.station("--pin", "4321", http=address)
    wait_for("the page follows the new run", lambda: link_text(driver) == "Station running")
    wait_for("its module ok", lambda: tile(driver, 1)["name"] == "AGAIN" and
             tile(driver, 1)["state"] == "ok")
    assert driver.find_element(By.ID, "ok").text == "1"
    again.stop()


if __name__ == "__main__":
    webrig.main(globals())
