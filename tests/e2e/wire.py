"""What reached the module and when, from a modsim transcript: every byte the program sent, and
the time from each frame to the next against the protocol's pauses and read time-outs.

The least gap after a frame, with a module that answers at once and sends its one trailing
byte: the pause before the read, the read that always waits one more time-out (100 ms after
the probe, 1000 ms after an acknowledgement or a reply's trailer), the pause after the try and
the pauses between steps (400 ms after the handshake, twice 100 ms after the name).
"""
import re

PROBE = b"\x20\x30"
# A gap may come out a little short of the sum: modsim stamps in milliseconds and Wine rounds
# its timers. A gap far beyond it is a time-out waited twice, or a pause that went wrong.
EARLY_MS = 5
LATE_MS = 600


def frame(letter, payload=b""):
    return bytes([0xE4, ord(letter), 0xA1]) + payload + b"\r"


def read_frames(turn_off=False):
    """(bytes, least gap to the next frame in ms) of a Read, in order."""
    frames = [(PROBE, 100), (frame("O"), 1000 + 400), (frame("G"), 1000 + 10),
              (frame("L"), 1000), (frame("A"), 1000 + 100 + 100), (frame("H"), 1000 + 10),
              (frame("T"), 1000 + 10)]
    return frames + [(frame("F"), None)] if turn_off else frames


def program_frames(name, pin, master, peer, turn_off=False):
    """(bytes, least gap to the next frame in ms) of a Program, in order; peer is six bytes."""
    frames = [(PROBE, 100), (frame("O"), 1000 + 400),
              (frame("N", name.encode("latin-1")), 100 + 1000 + 10 + 100),
              (frame("I", pin.encode("latin-1")), 100 + 1000 + 10),
              (frame("M" if master else "S"), 1000 + 10),
              (frame("E", bytes(peer)), 100 + 1000 + 10)]
    return frames + [(frame("F"), None)] if turn_off else frames


def parse(path):
    """All bytes received, and the time of each probe and command (when modsim had it whole)."""
    received, times = bytearray(), []
    for line in open(path, encoding="latin-1"):
        m = re.match(r"t=(\d+\.\d+) (RX|EV) (.*)", line)
        if not m:
            continue
        if m.group(2) == "RX":
            received += bytes.fromhex(m.group(3))
        elif m.group(3) == "probe" or m.group(3).startswith("command "):
            times.append(float(m.group(1)))
    return bytes(received), times


def check_wire(check, transcript, frames, what):
    """The bytes of the frames, nothing else, and every gap between two frames no shorter than
    the protocol's and not far beyond it."""
    received, times = parse(transcript)
    check.eq(f"{what}: bytes sent to the module", received.hex(" "),
             b"".join(f for f, _ in frames).hex(" "))
    if len(times) != len(frames):
        check.failures.append(f"{what}: {len(times)} frames received, want {len(frames)}")
        return
    outside = []
    for i, (sent, least) in enumerate(frames[:-1]):
        gap = round((times[i + 1] - times[i]) * 1000)
        if not least - EARLY_MS <= gap <= least + LATE_MS:
            outside.append(f"{sent[:2].hex(' ')}..: {gap} ms, want {least} ms")
    check.eq(f"{what}: gaps between frames outside the protocol's", outside, [])
    gaps = [round((b - a) * 1000) for a, b in zip(times, times[1:])]
    print(f"     {what}: gaps between frames {gaps} ms", flush=True)
