"""What the tests of Windows sound under Wine share: a private PulseAudio with a null sink, a
data folder whose recordings each hold a level of their own, and a recording of the sink's
monitor that knows when each frame passed it.

Times are CLOCK_MONOTONIC_RAW nanoseconds: Wine's performance counter is that clock (in
100 ns units), so what a Windows program under Wine notes by its counter can be set against
what is heard here. Nothing here sleeps: every wait is on a server's message, a capture's
frames or a process, and bounded.
"""
import array
import ctypes
import os
import select
import shutil
import socket
import subprocess
import sys
import threading
import time
import wave

RATE = 48000
CHANNELS = 2
FRAME_BYTES = 4 * CHANNELS
CLIP_FRAMES = 7200  # 150 ms
FADE_FRAMES = 120  # the core's 2.5 ms fade at each end of a clip
LEVEL_STEP = 150 / 32768.0
SINK = "brumlis_wasapi"


def fail(message):
    print(os.path.basename(sys.argv[0]) + ": " + message, file=sys.stderr)
    sys.exit(1)


def now_ns():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW)


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
        self.address = "unix:" + self.socket
        self.env["PULSE_SERVER"] = self.address

    def log_text(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")[-2000:]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


class _SampleSpec(ctypes.Structure):
    _fields_ = [("format", ctypes.c_int), ("rate", ctypes.c_uint32),
                ("channels", ctypes.c_uint8)]


class _BufferAttr(ctypes.Structure):
    _fields_ = [(name, ctypes.c_uint32)
                for name in ("maxlength", "tlength", "prebuf", "minreq", "fragsize")]


class Capture:
    """The sink's monitor through libpulse-simple, read in pieces of 5 ms. After each piece
    the stream's latency says how long ago the next frame to read passed the monitor, which
    puts that frame on this clock. A read that comes late finds the latency longer by as
    much, so each estimate holds; of those around a frame the median is taken."""

    PIECE_FRAMES = 240

    def __init__(self, server):
        lib = ctypes.CDLL("libpulse-simple.so.0")
        lib.pa_simple_new.restype = ctypes.c_void_p
        lib.pa_simple_new.argtypes = [
            ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p,
            ctypes.POINTER(_SampleSpec), ctypes.c_void_p, ctypes.POINTER(_BufferAttr),
            ctypes.POINTER(ctypes.c_int)]
        lib.pa_simple_read.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t,
                                       ctypes.POINTER(ctypes.c_int)]
        lib.pa_simple_get_latency.restype = ctypes.c_uint64
        lib.pa_simple_get_latency.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int)]
        lib.pa_simple_free.argtypes = [ctypes.c_void_p]
        self.lib = lib
        spec = _SampleSpec(5, RATE, CHANNELS)  # PA_SAMPLE_FLOAT32LE
        piece = self.PIECE_FRAMES * FRAME_BYTES
        attr = _BufferAttr(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, piece)
        error = ctypes.c_int(0)
        self.stream = lib.pa_simple_new(
            server.address.encode(), b"brumlis-test", 2,  # PA_STREAM_RECORD
            f"{SINK}.monitor".encode(), b"monitor", ctypes.byref(spec), None,
            ctypes.byref(attr), ctypes.byref(error))
        if not self.stream:
            fail(f"the monitor cannot be recorded (libpulse error {error.value})")
        self.bytes = bytearray()
        self.marks = []  # (frame, when it passed the monitor)
        self.changed = threading.Condition()
        self.stopping = False
        self.ended = False
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        piece = ctypes.create_string_buffer(self.PIECE_FRAMES * FRAME_BYTES)
        error = ctypes.c_int(0)
        while not self.stopping:
            if self.lib.pa_simple_read(self.stream, piece, len(piece), ctypes.byref(error)) < 0:
                break
            latency = self.lib.pa_simple_get_latency(self.stream, ctypes.byref(error))
            at = now_ns()
            with self.changed:
                self.bytes += piece.raw
                if latency != ctypes.c_uint64(-1).value:
                    self.marks.append((len(self.bytes) // FRAME_BYTES, at - latency * 1000))
                self.changed.notify_all()
        with self.changed:
            self.ended = True
            self.changed.notify_all()

    def size(self):
        with self.changed:
            return len(self.bytes)

    def wait_for(self, size, seconds=20):
        """Until the capture holds `size` bytes."""
        with self.changed:
            if not self.changed.wait_for(lambda: len(self.bytes) >= size or self.ended,
                                         seconds):
                fail(f"the monitor gave {len(self.bytes)} bytes of {size} in {seconds} s")
            if len(self.bytes) < size:
                fail("the monitor's recording ended early")

    def wait_settled(self, seconds=20):
        """Until the recording has run for two seconds: its first second or so is read in a
        hurry and libpulse's figures for it are off by up to ~700 ms (see passed())."""
        with self.changed:
            if not self.changed.wait_for(
                    lambda: len(self.bytes) >= 2 * RATE * FRAME_BYTES or self.ended, seconds):
                fail(f"the monitor gave less than two seconds in {seconds} s")

    def stop(self):
        self.stopping = True
        self.reader.join(10)
        if self.stream and not self.reader.is_alive():
            self.lib.pa_simple_free(self.stream)
            self.stream = None

    def samples(self):
        data = bytes(self.bytes)
        samples = array.array("f")
        samples.frombytes(data[: len(data) - len(data) % FRAME_BYTES])
        return samples[0::2], samples[1::2]

    def passed(self, frame):
        """When `frame` passed the monitor, from the ten reads nearest it whose figures agree
        with those of the recording's second half to 5 ms. A stream's first figures can be
        off by hundreds of milliseconds, all the same for a while (libpulse interpolates
        before the server has said much); the server's clock and this one may drift apart by
        a few milliseconds in a run, so the nearest reads are taken, not one figure for all."""
        if not self.marks:
            fail("no timing for the recording")
        starts = [at - f * 1_000_000_000 // RATE for f, at in self.marks]
        settled = sorted(starts[len(starts) // 2:])
        typical = settled[len(settled) // 2]
        good = [(f, start) for (f, _), start in zip(self.marks, starts)
                if abs(start - typical) < 5_000_000]
        nearest = sorted(good, key=lambda mark: abs(mark[0] - frame))[:10]
        estimates = sorted(start for _, start in nearest)
        return estimates[len(estimates) // 2] + frame * 1_000_000_000 // RATE


def plateaus(left, right):
    """Runs of one value on both channels, not zero, at least a fade long: (start, frames, value)."""
    runs = []
    start = 0
    n = len(left)
    while start < n:
        value = left[start]
        end = start + 1
        while end < n and left[end] == value and right[end] == value:
            end += 1
        if value != 0.0 and end - start >= FADE_FRAMES and right[start] == value:
            runs.append((start, end - start, value))
        start = end
    return runs


def heard_clips(left, right, levels):
    """The recordings heard, in order: [(name, frames, first frame of its plateau, first frame
    heard)], a recording broken by inserted silence joined into one; and the holes
    [(name, frames of silence)]."""
    heard = []
    for start, frames, value in plateaus(left, right):
        name = min(levels, key=lambda n: abs(levels[n] - value))
        if abs(levels[name] - value) > LEVEL_STEP / 4:
            fail(f"a level no recording has, {value}, for {frames} frames at frame {start}")
        # Its fade in comes first, right after silence or the clip before it.
        first = start
        while first > 0 and start - first < FADE_FRAMES and left[first - 1] != 0.0 and \
                abs(left[first - 1]) < abs(value):
            first -= 1
        heard.append((name, frames, start, first))
    holes = []
    joined = []
    for name, frames, start, first in heard:
        if joined and joined[-1][0] == name:
            last = joined[-1]
            holes.append((name, start - last[4]))
            joined[-1] = (name, last[1] + frames, last[2], last[3], start + frames)
        else:
            joined.append((name, frames, start, first, start + frames))
    return [(name, frames, start, first) for name, frames, start, first, _ in joined], holes


def check_whole(heard):
    """Each recording heard for all its frames but the fades."""
    least = CLIP_FRAMES - 2 * FADE_FRAMES - 2
    for name, frames, start, _ in heard:
        if not least <= frames <= CLIP_FRAMES:
            fail(f"{name} was heard for {frames} frames at frame {start}, not {least} to "
                 f"{CLIP_FRAMES}: cut, or broken by silence")


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * (len(ordered) - 1) + 0.5))]
