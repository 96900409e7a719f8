#!/usr/bin/env python3
"""The whole server on a 30 fps HTTP MJPEG camera played by ffmpeg on
127.0.0.1: CPU time, frames taken in and pictures written, beside the bare
decode of the same stream and, when asked, Debian's `motion` on the same
stream. Run by hand (not in CI):

    bench/end_to_end/end_to_end.py --build build [--seconds 20] [--rounds 3]
        [--motion] [--install-motion] [--only 1080p-still,...] [--no-floor]

`--install-motion` installs the `motion` package with apt-get (a peer to
compare with, never part of the system); `--motion` runs it when installed.
One table is printed, one row per scenario and round, the load average of the
minute before the round beside it.
"""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

FPS = 30


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    wanted = "0100007F:%04X" % port
    with open("/proc/net/tcp") as f:
        return any(l.split()[1] == wanted and l.split()[3] == "0A" for l in f.readlines()[1:])


def wait_until(pred, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if pred():
            return True
        time.sleep(0.02)
    return False


def run_checked(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_source(work, width, height, moving):
    """A 10 s MJPEG file: a textured still picture, with a box crossing it when moving."""
    still = os.path.join(work, "still_%d.png" % height)
    if not os.path.exists(still):
        run_checked(["ffmpeg", "-y", "-f", "lavfi", "-i", "testsrc2=s=%dx%d" % (width, height), "-frames:v", "1", still])
    name = os.path.join(work, "%d_%s.mjpeg" % (height, "moving" if moving else "still"))
    if os.path.exists(name):
        return name
    box = height // 5
    args = ["ffmpeg", "-y", "-loop", "1", "-framerate", str(FPS), "-i", still]
    if moving:
        # A white box crossing the picture, a third of its width per second.
        args += ["-f", "lavfi", "-i", "color=c=white:s=%dx%d:r=%d" % (box, box, FPS), "-filter_complex",
                 "[0][1]overlay=x='mod(t*%d,%d)':y=%d:eval=frame:shortest=1,format=yuvj420p"
                 % (width // 3, width - box, height // 3)]
    else:
        args += ["-vf", "format=yuvj420p"]
    run_checked(args + ["-t", "10", "-c:v", "mjpeg", "-q:v", "5", "-f", "mjpeg", name])
    return name


class Camera:
    """ffmpeg playing a file in a loop as an MJPEG camera, for one reader;
    counts the frames sent (at 30 fps, as the reader takes them)."""

    def __init__(self, source, seconds):
        self.port = free_port()
        self.url = "http://127.0.0.1:%d/cam.mjpg" % self.port
        self.frames = 0
        self.proc = subprocess.Popen(
            ["ffmpeg", "-hide_banner", "-loglevel", "error", "-re", "-stream_loop", "-1", "-framerate", str(FPS),
             "-f", "mjpeg", "-i", source, "-t", str(seconds + 30), "-c", "copy", "-progress", "pipe:1",
             "-stats_period", "0.2", "-f", "mpjpeg", "-content_type", "multipart/x-mixed-replace;boundary=ffmpeg",
             "-listen", "1", self.url],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.reader = threading.Thread(target=self.progress, daemon=True)
        self.reader.start()
        if not wait_until(lambda: listening(self.port), 10):
            raise RuntimeError("ffmpeg does not listen")

    def progress(self):
        for line in self.proc.stdout:
            if line.startswith("frame="):
                self.frames = int(line.split("=", 1)[1])

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()


class Viewers:
    """n readers of an HTTP MJPEG stream, counting the bytes they get."""

    def __init__(self, port, count, request=b""):
        self.bytes = 0
        self.lock = threading.Lock()
        self.stop = threading.Event()
        self.threads = [threading.Thread(target=self.read, args=(port, request), daemon=True) for _ in range(count)]
        for t in self.threads:
            t.start()

    def read(self, port, request):
        deadline = time.monotonic() + 10
        while not self.stop.is_set() and time.monotonic() < deadline:
            try:
                s = socket.create_connection(("127.0.0.1", port), timeout=1)
                break
            except OSError:
                time.sleep(0.1)
        else:
            return
        with s:
            s.settimeout(0.5)
            if request:
                s.sendall(request)
            while not self.stop.is_set():
                try:
                    got = s.recv(1 << 16)
                except socket.timeout:
                    continue
                except OSError:
                    return
                if not got:
                    return
                with self.lock:
                    self.bytes += len(got)

    def close(self):
        self.stop.set()
        for t in self.threads:
            t.join(5)


TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User and system time of every thread of a process, from /proc."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICK
    except (OSError, IndexError):
        return 0.0


class Window:
    """CPU time of a process and frames of its camera over the measured seconds."""

    def __init__(self, pid, camera):
        self.pid, self.camera = pid, camera
        self.cpu0, self.frames0 = cpu_seconds(pid), camera.frames

    def end(self):
        return cpu_seconds(self.pid) - self.cpu0, max(self.camera.frames - self.frames0, 1)


def end_child(proc, sig=signal.SIGTERM):
    if proc.poll() is None:
        proc.send_signal(sig)
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def run_vorlix(program, source, seconds, viewers, scale=1, decoder=""):
    work = tempfile.mkdtemp(prefix="e2e_vorlix_")
    camera = Camera(source, seconds)
    stream = free_port()
    with open(os.path.join(work, "Vorlix.ini"), "w") as f:
        f.write("[Vorlix]\nVideoURI=%s\nPort Web client=%d\nDetection scale=%d\n" % (camera.url, stream, scale))
    env = dict(os.environ)
    env.pop("VORLIX_JPEG_DECODER", None)
    if decoder:
        env["VORLIX_JPEG_DECODER"] = decoder
    proc = subprocess.Popen([program, "--headless"], cwd=work, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    # Measured from the first picture on: the start-up is not the stream's.
    wait_until(lambda: os.path.exists(os.path.join(work, "files", "last.jpg")), 15)
    time.sleep(1)
    watchers = Viewers(stream, viewers) if viewers else None
    window = Window(proc.pid, camera)
    sent0 = watchers.bytes if watchers else 0
    time.sleep(seconds)
    cpu, frames = window.end()
    sent = (watchers.bytes if watchers else 0) - sent0
    end_child(proc)
    if watchers:
        watchers.close()
    camera.close()
    shots = 0
    with open(os.path.join(work, "Vorlix.ini")) as f:
        for line in f:
            if line.lower().startswith("current shots="):
                shots = int(line.split("=", 1)[1])
    shutil.rmtree(work, ignore_errors=True)
    return cpu, frames, shots, sent


def run_floor(source, seconds):
    camera = Camera(source, seconds)
    proc = subprocess.Popen(
        ["gst-launch-1.0", "-q", "souphttpsrc", "location=" + camera.url, "is-live=true", "!", "multipartdemux",
         "single-stream=true", "!", "jpegdec", "!", "fakesink"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(2)
    window = Window(proc.pid, camera)
    time.sleep(seconds)
    cpu, frames = window.end()
    end_child(proc, signal.SIGINT)
    camera.close()
    return cpu, frames


def run_motion(source, seconds, width, height, viewers):
    work = tempfile.mkdtemp(prefix="e2e_motion_")
    camera = Camera(source, seconds)
    stream = free_port()
    conf = os.path.join(work, "motion.conf")
    with open(conf, "w") as f:
        f.write("\n".join([
            "daemon off", "log_level 4", "netcam_url " + camera.url.replace("http://", "mjpeg://"), "width %d" % width, "height %d" % height,
            "framerate %d" % FPS, "threshold %d" % max(width * height // 500, 1), "picture_output on",
            "movie_output off", "target_dir " + work, "stream_port %d" % (stream if viewers else 0),
            "stream_localhost on", "stream_maxrate %d" % FPS, "webcontrol_port 0", ""]))
    proc = subprocess.Popen(["motion", "-n", "-c", conf], cwd=work, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    time.sleep(3)
    watchers = Viewers(stream, viewers, b"GET / HTTP/1.0\r\n\r\n") if viewers else None
    window = Window(proc.pid, camera)
    sent0 = watchers.bytes if watchers else 0
    time.sleep(seconds)
    cpu, frames = window.end()
    sent = (watchers.bytes if watchers else 0) - sent0
    end_child(proc)
    if watchers:
        watchers.close()
    camera.close()
    pictures = sum(1 for _, _, files in os.walk(work) for n in files if n.endswith(".jpg"))
    shutil.rmtree(work, ignore_errors=True)
    return cpu, frames, pictures, sent


SCENARIOS = [  # name, width, height, moving, viewers, "Detection scale", JPEG decoder ("": our own)
    ("1080p-still", 1920, 1080, False, 0, 1, ""),
    ("1080p-still-jpegdec", 1920, 1080, False, 0, 1, "gstreamer"),
    ("1080p-still-scale2", 1920, 1080, False, 0, 2, ""),
    ("1080p-moving", 1920, 1080, True, 0, 1, ""),
    ("1080p-moving-jpegdec", 1920, 1080, True, 0, 1, "gstreamer"),
    ("1080p-moving-scale2", 1920, 1080, True, 0, 2, ""),
    ("480p-still", 640, 480, False, 0, 1, ""),
    ("480p-moving", 640, 480, True, 0, 1, ""),
    ("480p-moving-10v", 640, 480, True, 10, 1, ""),
    ("480p-moving-50v", 640, 480, True, 50, 1, ""),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--seconds", type=int, default=20)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--motion", action="store_true")
    ap.add_argument("--install-motion", action="store_true")
    ap.add_argument("--only", default="")
    ap.add_argument("--no-floor", action="store_true", help="skip the bare decode (shorter runs)")
    a = ap.parse_args()
    if a.install_motion and shutil.which("motion") is None:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends", "motion"], check=True)
    peer = (a.motion or a.install_motion) and shutil.which("motion") is not None
    program = os.path.abspath(os.path.join(a.build, "bin", "vorlix"))
    work = tempfile.mkdtemp(prefix="e2e_sources_")
    only = set(filter(None, a.only.split(",")))
    print("%-20s %5s %5s %8s %8s %8s %6s %6s %7s %7s %7s %9s" % (
        "scenario", "round", "load", "vx ms/f", "floor", "peer", "vx/fl", "vx/pe", "frames", "pics", "peerpic",
        "ms/MB v|p"))
    try:
        for name, w, h, moving, viewers, scale, decoder in SCENARIOS:
            if only and name not in only:
                continue
            source = make_source(work, w, h, moving)
            for r in range(1, a.rounds + 1):
                load = os.getloadavg()[0]
                cpu, frames, shots, sent = run_vorlix(program, source, a.seconds, viewers, scale, decoder)
                floor = float("nan")
                if not a.no_floor:
                    fcpu, fframes = run_floor(source, a.seconds)
                    floor = fcpu * 1000 / fframes
                vx = cpu * 1000 / frames
                pe, pic, per_mb = float("nan"), 0, ""
                if peer:
                    pcpu, pframes, pic, psent = run_motion(source, a.seconds, w, h, viewers)
                    pe = pcpu * 1000 / pframes if pframes > 1 else float("nan")
                    if viewers:
                        per_mb = "%.1f|%.1f" % (cpu * 1000 / max(sent / 1e6, 1e-3), pcpu * 1000 / max(psent / 1e6, 1e-3))
                elif viewers:
                    per_mb = "%.1f|-" % (cpu * 1000 / max(sent / 1e6, 1e-3))
                print("%-20s %5d %5.2f %8.2f %8.2f %8.2f %6.2f %6.2f %7d %7d %7d %9s" % (
                    name, r, load, vx, floor, pe, vx / floor if floor > 0 else float("nan"), vx / pe if peer and pe > 0 else float("nan"), frames, shots, pic,
                    per_mb), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
