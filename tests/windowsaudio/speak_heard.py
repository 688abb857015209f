#!/usr/bin/env python3
"""brumlis-cli.exe speak under Wine, into a private PulseAudio: every word heard whole and in
order at the null sink's monitor.

The data folder is the bundled word lists with each recording replaced by one that holds a
level of its own in every sample, so that the capture shows which recording is heard, and
where it is cut or broken by silence. The sentence is the one `generate --json` gives for the
same seed; `speak` must print it and play each of its recordings once, in its order, every
frame of it (the fades at a clip's ends aside).

    speak_heard.py --wine-run tools/wine-run --prefix PREFIX --cli brumlis-cli.exe \
        --data data [--seed N]

Nothing here sleeps: it waits on PulseAudio's readiness message, on the capture's bytes and on
the programs, each wait bounded so that a broken run fails instead of hanging.
"""
import argparse
import array
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import wave

RATE = 48000
CHANNELS = 2
FRAME_BYTES = 4 * CHANNELS
CLIP_FRAMES = 7200  # 150 ms
# Wine's way from WASAPI to PulseAudio inserts silence now and then when the machine is busy,
# while the stream's buffer is still 20 ms full or more (seen with two CPU hogs beside it: a
# hole of 10-30 ms in one run of two). So much is let through, each hole with every frame of
# the word still heard around it; more holes, longer ones or a frame missing fail.
HOLES_ALLOWED = 1
HOLE_FRAMES_ALLOWED = RATE * 30 // 1000
FADE_FRAMES = 120  # the core's 2.5 ms fade at each end of a clip
SINK = "brumlis_wasapi"


def fail(message):
    print("speak_heard: " + message, file=sys.stderr)
    sys.exit(1)


def windows_path(path):
    # Wine shows the Unix root as drive Z:.
    return "Z:" + os.path.abspath(path)


def make_data(source, target):
    """The bundled lists, and a level clip for each recording: recording name -> level."""
    shutil.copytree(os.path.join(source, "text"), os.path.join(target, "text"))
    os.mkdir(os.path.join(target, "sound"))
    names = sorted(n for n in os.listdir(os.path.join(source, "sound")) if n.endswith(".wav"))
    if 2000 + 150 * len(names) > 32767:
        fail("too many recordings for a level each")
    levels = {}
    for i, name in enumerate(names):
        value = 2000 + 150 * i
        levels["sound/" + name] = value / 32768.0
        with wave.open(os.path.join(target, "sound", name), "wb") as clip:
            clip.setnchannels(1)
            clip.setsampwidth(2)
            clip.setframerate(RATE)
            clip.writeframes(array.array("h", [value] * CLIP_FRAMES).tobytes())
    return levels


class PulseServer:
    """pulseaudio with a null sink and a socket of its own, started as tests/support does."""

    def __init__(self, folder):
        self.folder = folder
        self.socket = os.path.join(folder, "pulse.socket")
        run = os.path.join(folder, "run")
        os.mkdir(run, 0o700)
        self.env = dict(os.environ, HOME=folder, XDG_RUNTIME_DIR=run)
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.env.pop("PULSE_SERVER", None)
        readiness = os.path.join(folder, "notify.socket")
        ready = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        ready.bind(readiness)
        self.log = open(os.path.join(folder, "pulseaudio.log"), "w+b")
        self.process = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--disable-shm=yes", "--log-target=stderr",
             "-L", f"module-null-sink sink_name={SINK} rate={RATE} channels={CHANNELS} "
                   "format=float32le",
             "-L", f"module-native-protocol-unix socket={self.socket} auth-anonymous=1"],
            env=dict(self.env, NOTIFY_SOCKET=readiness), stdin=subprocess.DEVNULL,
            stdout=self.log, stderr=self.log)
        # READY=1 comes once it serves; its end ends the wait too.
        ended = os.pidfd_open(self.process.pid)
        said = b""
        while b"READY=1" not in said:
            readable, _, _ = select.select([ready, ended], [], [], 30)
            if ready in readable:
                said += ready.recv(4096) + b"\n"
            elif ended in readable:
                fail("pulseaudio ended before it served: " + self.log_text())
            else:
                fail("pulseaudio never said it serves: " + self.log_text())
        os.close(ended)
        ready.close()
        self.env["PULSE_SERVER"] = "unix:" + self.socket

    def log_text(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")[-2000:]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


class Capture:
    """parec on the sink's monitor, its bytes gathered as they come."""

    def __init__(self, server):
        self.process = subprocess.Popen(
            ["parec", f"--device={SINK}.monitor", "--format=float32le", f"--rate={RATE}",
             f"--channels={CHANNELS}", "--raw", "--latency-msec=10"],
            env=server.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        self.bytes = bytearray()
        self.changed = threading.Condition()
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        fd = self.process.stdout.fileno()
        while True:
            piece = os.read(fd, 65536)
            with self.changed:
                if not piece:
                    self.ended = True
                    self.changed.notify_all()
                    return
                self.bytes += piece
                self.changed.notify_all()

    def size(self):
        with self.changed:
            return len(self.bytes)

    def wait_for(self, size, seconds=20):
        """Until the capture holds `size` bytes."""
        with self.changed:
            if not self.changed.wait_for(lambda: len(self.bytes) >= size or
                                         getattr(self, "ended", False), seconds):
                fail(f"the monitor gave {len(self.bytes)} bytes of {size} in {seconds} s")
            if len(self.bytes) < size:
                fail("parec ended early")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            self.process.wait(10)
        self.reader.join(10)


def run_cli(args, options, env):
    command = [options.wine_run, "--prefix", options.prefix, options.cli,
               "--data", windows_path(options.data_copy)] + args
    done = subprocess.run(command, env=env, capture_output=True, timeout=180)
    out = done.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n")
    err = done.stderr.decode("utf-8", errors="replace").replace("\r\n", "\n")
    if done.returncode != 0:
        fail(f"{' '.join(args)} ended with status {done.returncode}: {err}")
    return out, err


def plateaus(samples_left, samples_right):
    """Runs of one value on both channels, not zero, at least a fade long: (start, frames, value)."""
    runs = []
    start = 0
    n = len(samples_left)
    while start < n:
        value = samples_left[start]
        end = start + 1
        while end < n and samples_left[end] == value and samples_right[end] == value:
            end += 1
        if value != 0.0 and end - start >= FADE_FRAMES and samples_right[start] == value:
            runs.append((start, end - start, value))
        start = end
    return runs


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
        wine_env = dict(os.environ, PULSE_SERVER=server.env["PULSE_SERVER"])

        out, _ = run_cli(["generate", "--fro", options.seed, "--json"], options, wine_env)
        sentence = json.loads(out.strip().splitlines()[0])
        slots = sentence["slots"]
        words = " ".join(slot["text"] for slot in slots)
        expected = [(slot["sound"], levels[slot["sound"]]) for slot in slots
                    if slot["sound"] in levels]
        if len(expected) != len(slots):
            fail("a word of the sentence has no recording: " + words)

        capture = Capture(server)
        capture.wait_for(FRAME_BYTES)  # the monitor runs: nothing is played before it
        out, err = run_cli(["speak", "--fro", options.seed], options, wine_env)
        if out.strip() != words:
            fail(f"speak printed {out.strip()!r}, generate {words!r}")
        if err.strip():
            fail("speak said: " + err)
        # The last word was heard when speak ended; what the monitor had then may not have
        # reached parec yet. A quarter of a second more of it is taken.
        capture.wait_for(capture.size() + RATE // 4 * FRAME_BYTES)
        capture.stop()
        samples = array.array("f")
        with capture.changed:
            data = bytes(capture.bytes)
        samples.frombytes(data[: len(data) - len(data) % FRAME_BYTES])
        runs = plateaus(samples[0::2], samples[1::2])

        heard = []
        step = 150 / 32768.0
        for start, frames, value in runs:
            name = min(levels, key=lambda n: abs(levels[n] - value))
            if abs(levels[name] - value) > step / 4:
                fail(f"a level no recording has, {value}, for {frames} frames at frame {start}")
            heard.append((name, frames, start))
        # A word broken by inserted silence: its pieces, one after the other, as one.
        holes = []
        joined = []
        for name, frames, start in heard:
            if joined and joined[-1][0] == name:
                last_name, last_frames, last_start, last_end = joined[-1]
                holes.append((name, start - last_end))
                joined[-1] = (name, last_frames + frames, last_start, start + frames)
            else:
                joined.append((name, frames, start, start + frames))
        heard = [(name, frames, start) for name, frames, start, _ in joined]
        names = [name for name, _, _ in heard]
        wanted = [name for name, _ in expected]
        print(f"sentence: {words}")
        print("heard: " + ", ".join(f"{n} {f} frames at {s}" for n, f, s in heard))
        if names != wanted:
            fail(f"heard {names}, wanted {wanted}")
        least = CLIP_FRAMES - 2 * FADE_FRAMES - 2
        for name, frames, start in heard:
            if not least <= frames <= CLIP_FRAMES:
                fail(f"{name} was heard for {frames} frames at frame {start}, not {least} to "
                     f"{CLIP_FRAMES}: cut, or broken by silence")
        for name, frames in holes:
            print(f"silence inserted in {name}: {frames} frames")
        if len(holes) > HOLES_ALLOWED or any(f > HOLE_FRAMES_ALLOWED for _, f in holes):
            fail(f"silence inserted {len(holes)} times: {holes}")
        print(f"speak_heard: {len(heard)} words heard whole and in order, "
              f"{len(holes)} with silence inserted")
    finally:
        if capture:
            capture.stop()
        if server:
            server.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
