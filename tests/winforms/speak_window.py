#!/usr/bin/env python3
"""brumlis.exe speaking under Wine into a private PulseAudio, driven as a person would by
windowdriver.exe (its scenario "speaking") in a Wine desktop on an X server of the test's own,
and heard at the null sink's monitor.

Every recording of the data folder holds a level of its own, so the capture shows which word
is heard when. The driver notes, by Wine's performance counter (this machine's
CLOCK_MONOTONIC_RAW), each press and each text the sentence label was given; the capture puts
every frame on the same clock. Checked: every word shown was heard whole, in order, with no
silence inserted; no word shown more than 30 ms after its first frame was heard, and the 95th
percentile of how long before it was shown at most 60 ms; the window answered within 100 ms
throughout (the driver's check). Printed: the leads (least, median, p95, most) and the time
from each press to the first frame heard.

    speak_window.py --wine-run tools/wine-run --prefix PREFIX --driver windowdriver.exe \\
        --brumlis brumlis.exe --data data
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                "windowsaudio"))
from wineaudio import (FRAME_BYTES, RATE, Capture, PulseServer, check_whole, fail,  # noqa: E402
                       heard_clips, make_data, percentile, windows_path)

LATE_ALLOWED_MS = 30
P95_LEAD_ALLOWED_MS = 60


def start_xvfb(folder):
    """Xvfb on a display of its own, once it serves (it writes the display's number then)."""
    read, write = os.pipe()
    log = open(os.path.join(folder, "xvfb.log"), "wb")
    process = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write,), stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    os.close(write)
    number = b""
    with os.fdopen(read, "rb") as said:
        number = said.readline().strip()
    if not number:
        process.kill()
        fail("Xvfb did not start")
    return process, ":" + number.decode()


def parse_log(text):
    frequency = None
    presses, shown, checks = [], [], []
    for line in text.replace("\r\n", "\n").split("\n"):
        # Each line: the driver's milliseconds, then what it says.
        said = re.match(r"\s*\d+ (.*)$", line)
        if not said:
            continue
        rest = said.group(1)
        if rest.startswith("counter-frequency "):
            frequency = int(rest.split()[1])
        elif rest.startswith("press "):
            presses.append(int(rest.split()[1]))
        elif rest.startswith("shown "):
            _, counter, *label = rest.split(" ", 2)
            shown.append((int(counter), label[0] if label else ""))
        else:
            checks.append(rest)
    if not frequency:
        fail("the driver gave no counter frequency:\n" + text)

    def ns(counter):
        return counter * 1_000_000_000 // frequency
    return [ns(p) for p in presses], [(ns(c), label) for c, label in shown], checks


def words_shown(shown):
    """Each word as it went on the label, by sentence: [[(when, word)]]. Empty slots add only
    their blank."""
    sentences = []
    before = None
    for when, label in shown:
        if label == "":
            sentences.append([])
            before = ""
            continue
        if before is None or not label.startswith(before):
            fail(f"the label went from {before!r} to {label!r}, not word by word")
        word = label[len(before):]
        if not word.endswith(" "):
            fail(f"{label!r}: a word without its blank")
        if word.strip():
            sentences[-1].append((when, word[:-1]))
        before = label
    return sentences


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--brumlis", required=True)
    parser.add_argument("--data", required=True)
    options = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="brumlis-window-sound-")
    server = capture = xvfb = None
    try:
        data = os.path.join(folder, "data")
        levels = make_data(options.data, data)
        server = PulseServer(folder)
        xvfb, display = start_xvfb(folder)
        capture = Capture(server)
        capture.wait_settled()  # the monitor runs, and says when: nothing is played before

        log = os.path.join(folder, "driver.log")
        env = dict(os.environ, PULSE_SERVER=server.address, DISPLAY=display)
        done = subprocess.run(
            [options.wine_run, "--prefix", options.prefix, "explorer",
             "/desktop=brumlis-speaking,1024x768", windows_path(options.driver), "speaking",
             windows_path(options.brumlis), windows_path(data), windows_path(log)],
            env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=240)
        if not os.path.exists(log) or os.path.getsize(log) == 0:
            fail(f"the driver wrote nothing (wine ended with {done.returncode}): "
                 + done.stderr.decode(errors="replace"))
        with open(log, encoding="utf-8", errors="replace") as f:
            text = f.read()
        presses, shown, checks = parse_log(text)
        print("\n".join(checks))
        if not checks or checks[-1] != "PASS":
            fail("the driver's checks failed")
        # The program ended after its last sentence had been heard; the monitor's last
        # frames may not have been read yet. A quarter of a second more is taken.
        capture.wait_for(capture.size() + RATE // 4 * FRAME_BYTES)
        capture.stop()

        sentences = words_shown(shown)
        heard, holes = heard_clips(*capture.samples(), levels)
        words = [word for sentence in sentences for word in sentence]
        # A word's recording is sound/<word>.wav, a blank in it written as a blank or an
        # underscore, in any case.
        wanted = ["sound/" + word + ".wav" for _, word in words]
        names = [name for name, _, _, _ in heard]
        if [n.replace("_", " ").lower() for n in names] != [w.lower() for w in wanted]:
            fail(f"heard {names},\nshown {wanted}")
        leads = []
        for (when, word), (_, _, _, first) in zip(words, heard):
            leads.append((capture.passed(first) - when) / 1e6)
        to_first = []
        at = 0
        for sentence in sentences:
            first_heard = capture.passed(heard[at][3])
            pressed = max((p for p in presses if p <= sentence[0][0]), default=None)
            if pressed is not None:
                to_first.append((first_heard - pressed) / 1e6)
            at += len(sentence)
        print(f"{len(sentences)} sentences, {len(words)} words heard in the order shown")
        print("lead (ms a word was shown before its first frame was heard): least "
              f"{min(leads):.1f}, median {percentile(leads, 0.5):.1f}, "
              f"p95 {percentile(leads, 0.95):.1f}, most {max(leads):.1f}")
        print("press to first frame heard (ms): " + ", ".join(f"{t:.1f}" for t in to_first))
        if holes:
            fail(f"silence inserted {len(holes)} times: {holes}")
        check_whole(heard)
        late = [lead for lead in leads if lead < -LATE_ALLOWED_MS]
        if late:
            fail(f"{len(late)} words shown more than {LATE_ALLOWED_MS} ms after they were "
                 f"heard: {late}")
        if percentile(leads, 0.95) > P95_LEAD_ALLOWED_MS:
            fail(f"the 95th percentile of the lead is over {P95_LEAD_ALLOWED_MS} ms")
    finally:
        if capture:
            capture.stop()
        if xvfb:
            xvfb.terminate()
            xvfb.wait(10)
        if server:
            server.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
