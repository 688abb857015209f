#!/usr/bin/env python3
"""brumlis-cli.exe speak under Wine, into a private PulseAudio: every word heard whole and in
order at the null sink's monitor.

The data folder is the bundled word lists with each recording replaced by one that holds a
level of its own in every sample, so that the capture shows which recording is heard, and
where it is cut or broken by silence. The sentence is the one `generate --json` gives for the
same seed; `speak` must print it and play each of its recordings once, in its order, every
frame of it (the fades at a clip's ends aside), with no silence inserted.

    speak_heard.py --wine-run tools/wine-run --prefix PREFIX --cli brumlis-cli.exe \
        --data data [--seed N]
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wineaudio import (FRAME_BYTES, RATE, Capture, PulseServer, check_whole, fail,  # noqa: E402
                       heard_clips, make_data, windows_path)


def run_cli(args, options, env):
    command = [options.wine_run, "--prefix", options.prefix, options.cli,
               "--data", windows_path(options.data_copy)] + args
    done = subprocess.run(command, env=env, capture_output=True, timeout=180)
    out = done.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n")
    err = done.stderr.decode("utf-8", errors="replace").replace("\r\n", "\n")
    if done.returncode != 0:
        fail(f"{' '.join(args)} ended with status {done.returncode}: {err}")
    return out, err


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--seed", default="11")
    options = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="brumlis-wasapi-")
    server = capture = None
    try:
        options.data_copy = os.path.join(folder, "data")
        levels = make_data(options.data, options.data_copy)
        server = PulseServer(folder)
        wine_env = dict(os.environ, PULSE_SERVER=server.address)

        out, _ = run_cli(["generate", "--fro", options.seed, "--json"], options, wine_env)
        sentence = json.loads(out.strip().splitlines()[0])
        slots = sentence["slots"]
        words = " ".join(slot["text"] for slot in slots)
        wanted = [slot["sound"] for slot in slots if slot["sound"] in levels]
        if len(wanted) != len(slots):
            fail("a word of the sentence has no recording: " + words)

        capture = Capture(server)
        capture.wait_settled()  # the monitor runs: nothing is played before it
        out, err = run_cli(["speak", "--fro", options.seed], options, wine_env)
        if out.strip() != words:
            fail(f"speak printed {out.strip()!r}, generate {words!r}")
        if err.strip():
            fail("speak said: " + err)
        # The last word was heard when speak ended; what the monitor had then may not have
        # been read yet. A quarter of a second more of it is taken.
        capture.wait_for(capture.size() + RATE // 4 * FRAME_BYTES)
        capture.stop()
        heard, holes = heard_clips(*capture.samples(), levels)
        print(f"sentence: {words}")
        print("heard: " + ", ".join(f"{n} {f} frames at {s}" for n, f, s, _ in heard))
        names = [name for name, _, _, _ in heard]
        if names != wanted:
            fail(f"heard {names}, wanted {wanted}")
        if holes:
            fail(f"silence inserted {len(holes)} times: {holes}")
        check_whole(heard)
        print(f"speak_heard: {len(heard)} words heard whole and in order")
    finally:
        if capture:
            capture.stop()
        if server:
            server.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
