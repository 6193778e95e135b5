#!/usr/bin/env python3
"""Live recording, side by side: Kestrel, ffmpeg's x11grab and
SimpleScreenRecorder record the same rectangle of a moving desktop (see
desktop.py) at the same rate with the same encoder settings, one after the
other in one X session, or with --together N in N rounds of recording at the
same time (a shared machine's swings then fall on every tool alike).

    bash scripts/xsession.sh --screen 1920x1080x24 \\
        python3 bench/record/run.py BUILD_DIR [--seconds 30] [--rect full|WxH+X+Y] \\
        [--rows 30:H264,30:MJPG,...] [--tools kestrel,ffmpeg,ssr] [--long 600] [--together N]

Every tool is measured the same way, from outside its process: CPU is the
user + system time of the whole process (all threads) read from
/proc/PID/stat, from 4 s after the output file appeared to 1 s before the
recording was due to end, divided by the frames the tool wrote in that
window (its frame rate over the whole file times the window). Frames are
the non-empty packets ffprobe finds; "asked" is rate x recorded seconds.
Size per minute is the file's size over its recorded seconds, times 60,
and "keys" its key-frame packets.
Prints one JSON line per run and a Markdown table with the ratios.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import Desktop, screen_size  # noqa: E402

RECT = None  # left, top, width, height; set from --rect
SETTLE_S = 4.0  # start-up left out of the CPU window
TAIL_S = 1.0    # stopping left out too
TICK = os.sysconf("SC_CLK_TCK")

# Kestrel's compressor settings, and the same for the peers. Kestrel takes
# the compressor dialog's first values: for H.264 a key frame every 250
# frames, x264's own default, which the peers keep too; the intra-only
# compressors write every frame as a key frame, and the peers get g=1 for
# those. --defaults adds H.264 rows of the peers with every frame a key
# frame, as Kestrel wrote them before it honoured the interval.
CODECS = {
    "H264": {"kestrel": "H264",
             "ffmpeg": ["-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-crf", "23",
                        "-pix_fmt", "yuv420p"],
             # SSR's own H.264 page has no key-frame interval (it keeps
             # x264's 250); as "other" it takes libx264's options.
             "ssr": {"video_codec": "other", "video_codec_av": "libx264"},
             "ssr_options": "crf=23,preset=ultrafast"},
    "MJPG": {"kestrel": "MJPG",
             "ffmpeg": ["-c:v", "mjpeg", "-q:v", "4", "-pix_fmt", "yuvj420p"],
             "ssr": {"video_codec": "other", "video_codec_av": "mjpeg"}},
    "ULRG": {"kestrel": "ULRG",
             "ffmpeg": ["-c:v", "utvideo", "-pix_fmt", "gbrp"],
             "ssr": {"video_codec": "other", "video_codec_av": "utvideo"}},
    "DIB": {"kestrel": "DIB ",
            "ffmpeg": ["-c:v", "rawvideo", "-pix_fmt", "bgr0"],
            "ssr": {"video_codec": "other", "video_codec_av": "rawvideo"}},
}


def log(*a):
    print(*a, file=sys.stderr, flush=True)


# Compressors whose Kestrel default has delta frames: the peers keep their
# default GOP for them.
DELTA = {"H264"}


def key_frames_in(path):
    try:
        out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "packet=flags",
                              "-of", "csv=p=0", path], capture_output=True, text=True, timeout=120).stdout
    except subprocess.TimeoutExpired:
        return -1
    return sum(1 for line in out.split() if line.startswith("K"))


def frames_in(path):
    try:
        out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "packet=size",
                              "-of", "csv=p=0", path], capture_output=True, text=True, timeout=120).stdout
    except subprocess.TimeoutExpired:
        return -1
    return sum(1 for line in out.split() if line.strip().isdigit() and int(line) > 0)


def proc_cpu(pid):
    """User + system seconds of the whole process (all threads), or None."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICK
    except (OSError, IndexError, ValueError):
        return None


def proc_rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


class Sampler(threading.Thread):
    """Watches a recording process from outside: when its file appears,
    then its CPU time and RSS every quarter second."""

    def __init__(self, pid, out, seconds):
        super().__init__(daemon=True)
        self.pid, self.out, self.seconds = pid, out, seconds
        self.file_at = None
        self.samples = []  # (monotonic, cpu s, rss KiB)
        self.done = threading.Event()

    def run(self):
        while not self.done.is_set():
            now = time.monotonic()
            if self.file_at is None and os.path.exists(self.out):
                self.file_at = now
            cpu, rss = proc_cpu(self.pid), proc_rss_kib(self.pid)
            if cpu is None:
                break
            self.samples.append((now, cpu, rss))
            self.done.wait(0.25)

    def window(self):
        """(seconds, cpu seconds, rss at start, rss at end, peak rss) between
        SETTLE_S after the file appeared and TAIL_S before the end."""
        if self.file_at is None:
            return None
        lo, hi = self.file_at + SETTLE_S, self.file_at + self.seconds - TAIL_S
        inside = [s for s in self.samples if lo <= s[0] <= hi]
        if len(inside) < 2:
            return None
        a, b = inside[0], inside[-1]
        rss = [s[2] for s in inside if s[2]]
        return b[0] - a[0], b[1] - a[1], a[2], b[2], max(rss) if rss else 0


def run_measured(argv, out, seconds, stdin_script=None, env=None):
    """Runs one recording process; returns its row's measured part."""
    proc = subprocess.Popen(argv, stdin=subprocess.PIPE if stdin_script else subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    sampler = Sampler(proc.pid, out, seconds)
    sampler.start()
    if stdin_script:
        stdin_script(proc)
        proc.stdin = None  # the script closed it
    stdout, stderr = proc.communicate()
    sampler.done.set()
    sampler.join()
    if proc.returncode != 0:
        log("failed:", " ".join(argv), stderr.decode(errors="replace")[-800:])
    row = {"ok": proc.returncode == 0, "stdout": stdout.decode(errors="replace")}
    w = sampler.window()
    if w:
        row.update({"window_s": w[0], "cpu_window_s": w[1], "rss_start_kib": w[2], "rss_end_kib": w[3],
                    "rss_peak_kib": w[4]})
    return row


def finish(row, out, rate, seconds):
    row["seconds"] = seconds
    row["frames"] = frames_in(out) if os.path.exists(out) else 0
    if os.path.exists(out) and seconds:
        row["mb_per_min"] = os.path.getsize(out) / 1e6 / float(seconds) * 60
        row["keys"] = key_frames_in(out)
    if row["frames"] > 0 and row.get("window_s"):
        # Frames written in the CPU window, at the rate the file shows.
        fps = row["frames"] / seconds
        row["ms_per_frame"] = 1000.0 * row["cpu_window_s"] / (fps * row["window_s"])
    row.pop("stdout", None)
    if os.path.exists(out):
        os.remove(out)
    return row


def kestrel(build, work, rate, codec, seconds, latency=False):
    out = os.path.join(work, f"kestrel-{rate}-{codec}.avi")
    r = run_measured([os.path.join(build, "bench", "record", "record_bench"), out, str(rate),
                      CODECS[codec]["kestrel"], str(seconds), *map(str, RECT)], out, seconds,
                     env=dict(os.environ, KESTREL_BENCH_LATENCY="1" if latency else "0"))
    row = {"tool": "kestrel", "rate": rate, "codec": codec}
    if r["ok"]:
        inner = json.loads(r["stdout"].strip().splitlines()[-1])
        # What the process saw itself (timers, latency); the CPU and the
        # recorded time are measured as for the peers.
        seconds = inner["seconds"]
        for k in ("write_mean_ms", "grab_mean_ms", "ui_delay_max_ms",
                  "ui_delay_p99_ms", "ui_cpu_s", "cpu_s", "frames", "due", "lost"):
            if k in inner:
                row["inner_" + k] = inner[k]
        for k in ("write_mean_ms", "grab_mean_ms", "ui_delay_max_ms",
                  "ui_delay_p99_ms"):
            if k in inner:
                row[k] = inner[k]
    row.update(r)
    return finish(row, out, rate, seconds)


def ffmpeg(work, rate, codec, seconds, keyframes_only=None):
    if keyframes_only is None:
        keyframes_only = codec not in DELTA
    out = os.path.join(work, f"ffmpeg-{rate}-{codec}.avi")
    x, y, w, h = RECT
    argv = ["ffmpeg", "-y", "-v", "error", "-f", "x11grab", "-draw_mouse", "0", "-framerate", str(rate),
            "-video_size", f"{w}x{h}", "-i", f"{os.environ['DISPLAY']}+{x},{y}", "-t", str(seconds),
            *CODECS[codec]["ffmpeg"]]
    if keyframes_only:
        argv += ["-g", "1"]
    argv.append(out)
    row = {"tool": "ffmpeg" + (" (g=1)" if keyframes_only and codec in DELTA else ""), "rate": rate, "codec": codec}
    row.update(run_measured(argv, out, seconds))
    return finish(row, out, rate, seconds)


def ssr_settings(path, out, rate, codec, keyframes_only):
    x, y, w, h = RECT
    o = dict(CODECS[codec]["ssr"])
    lines = ["[input]", "video_area=fixed", f"video_x={x}", f"video_y={y}", f"video_w={w}", f"video_h={h}",
             f"video_frame_rate={rate}", "video_scale=false", "video_record_cursor=false", "audio_enabled=false",
             "[output]", f"file={out}", "separate_files=false", "add_timestamp=false", "container=other",
             "container_av=avi", "video_allow_frame_skipping=true",
             # Quoted, or Qt's settings read the commas as a list and
             # SSR drops the lot; SSR sets the GOP from its own "keyint".
             'video_options="' + ",".join(filter(None, [CODECS[codec].get("ssr_options"),
                                                        "keyint=1" if keyframes_only else None])) + '"']
    lines += [f"{k}={v}" for k, v in o.items()]
    lines += ["[welcome]", "skip_page=true"]
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def ssr(work, rate, codec, seconds, keyframes_only=None):
    if keyframes_only is None:
        keyframes_only = codec not in DELTA
    out = os.path.join(work, f"ssr-{rate}-{codec}.avi")
    settings = os.path.join(work, f"ssr-{rate}-{codec}.conf")
    stats = os.path.join(work, f"ssr-{rate}-{codec}.stats")
    ssr_settings(settings, out, rate, codec, keyframes_only)

    def drive(proc):
        # The recording runs `seconds` from the moment its file appears.
        t0 = time.monotonic()
        while not os.path.exists(out) and time.monotonic() - t0 < 15 and proc.poll() is None:
            time.sleep(0.05)
        time.sleep(seconds)
        for cmd in ("record-save", "quit"):
            try:
                proc.stdin.write((cmd + "\n").encode())
                proc.stdin.flush()
            except BrokenPipeError:
                break
            time.sleep(1.0)
        try:
            proc.stdin.close()
        except BrokenPipeError:
            pass

    row = {"tool": "SimpleScreenRecorder" + (" (keyint=1)" if keyframes_only and codec in DELTA else ""),
           "rate": rate, "codec": codec}
    row.update(run_measured(["simplescreenrecorder", f"--settingsfile={settings}", f"--statsfile={stats}",
                             "--no-systray", "--start-hidden", "--start-recording"], out, seconds, drive))
    return finish(row, out, rate, seconds)


def ensure_peers():
    if subprocess.run(["which", "simplescreenrecorder"], capture_output=True).returncode != 0:
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", "simplescreenrecorder"],
                       check=False, stdout=subprocess.DEVNULL)


def parse_rect(text):
    if text == "full":
        w, h = screen_size()
        return 0, 0, w, h
    size, x, y = text.replace("-", "+").split("+")
    w, h = size.split("x")
    return int(x), int(y), int(w), int(h)


def main():
    global RECT
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--rect", default="full", help="full (the whole screen) or WxH+X+Y")
    ap.add_argument("--rows", default="30:H264,30:MJPG,30:ULRG,30:DIB")
    ap.add_argument("--tools", default="kestrel,ffmpeg,ssr")
    ap.add_argument("--defaults", action="store_true",
                    help="also run the peers' H.264 with every frame a key frame")
    ap.add_argument("--long", type=float, default=0, help="one long Kestrel H.264 run for memory growth")
    ap.add_argument("--latency", action="store_true",
                    help="after each Kestrel row, a second Kestrel run with the user-interface latency probe "
                         "(its CPU is not counted: the probe wakes the thread 50 times a second)")
    ap.add_argument("--together", type=int, default=0, metavar="N",
                    help="instead of one run after the other, N rounds per row in which the tools record the "
                         "desktop at the same time, so the machine's swings fall on all of them alike; prints "
                         "each round's ratios and their median")
    args = ap.parse_args()
    RECT = parse_rect(args.rect)
    tools = args.tools.split(",")
    ensure_peers()
    work = tempfile.mkdtemp(prefix="kestrel-bench-record-")
    desktop = Desktop().start()
    rows = []

    def emit(r):
        rows.append(r)
        print(json.dumps(r), flush=True)

    try:
        for spec in args.rows.split(",") if args.together else []:
            rate_s, codec = spec.split(":")
            rate = int(rate_s)
            for rnd in range(args.together):
                runs = {"kestrel": lambda: kestrel(args.build, work, rate, codec, args.seconds),
                        "ffmpeg": lambda: ffmpeg(work, rate, codec, args.seconds),
                        "ssr": lambda: ssr(work, rate, codec, args.seconds)}
                got = []
                threads = [threading.Thread(target=lambda f=runs[t]: got.append(f())) for t in tools]
                for t in threads:
                    t.start()
                for t in threads:
                    t.join()
                for r in got:
                    r["round"] = rnd
                    emit(r)
        for spec in args.rows.split(",") if not args.together else []:
            rate_s, codec = spec.split(":")
            rate = int(rate_s)
            if "kestrel" in tools:
                r = kestrel(args.build, work, rate, codec, args.seconds)
                if args.latency:
                    probed = kestrel(args.build, work, rate, codec, args.seconds, latency=True)
                    for k in ("ui_delay_max_ms", "ui_delay_p99_ms"):
                        if k in probed:
                            r[k] = probed[k]
                emit(r)
            for name, fn in (("ffmpeg", ffmpeg), ("ssr", ssr)):
                if name not in tools:
                    continue
                emit(fn(work, rate, codec, args.seconds))
                if args.defaults and codec in DELTA:
                    emit(fn(work, rate, codec, args.seconds, keyframes_only=True))
        if args.long:
            r = kestrel(args.build, work, 30, "H264", args.long)
            r["tool"] = "kestrel (long run)"
            emit(r)
    finally:
        desktop.stop()
    if args.together:
        together_table(rows)
    else:
        table(rows)


def together_table(rows):
    x, y, w, h = RECT
    print()
    print(f"Rectangle {w}x{h}+{x}+{y}, the tools recording at the same time")
    print("| rate | codec | Kestrel CPU ms/frame by round | vs SSR by round | median | vs ffmpeg by round | median |")
    print("|---|---|---|---|---|---|---|")
    keys = sorted({(r["rate"], r["codec"]) for r in rows}, key=lambda k: [r["codec"] for r in rows].index(k[1]))
    for rate, codec in keys:
        by = {(r["round"], r["tool"]): r.get("ms_per_frame") for r in rows if (r["rate"], r["codec"]) == (rate, codec)}
        rounds = sorted({k[0] for k in by})
        own = [by.get((n, "kestrel")) for n in rounds]

        def ratios(peer):
            out = []
            for n, k in zip(rounds, own):
                p = by.get((n, peer))
                if k and p:
                    out.append(k / p)
            return out

        def median(v):
            v = sorted(v)
            return "%.2f" % ((v[(len(v) - 1) // 2] + v[len(v) // 2]) / 2) if v else ""

        ssr_r, ff_r = ratios("SimpleScreenRecorder"), ratios("ffmpeg")
        print(f"| {rate} | {codec} | {', '.join('%.2f' % k for k in own if k)} | "
              f"{', '.join('%.2f' % v for v in ssr_r)} | {median(ssr_r)} | "
              f"{', '.join('%.2f' % v for v in ff_r)} | {median(ff_r)} |")


def table(rows):
    x, y, w, h = RECT
    print()
    print(f"Rectangle {w}x{h}+{x}+{y}")
    print("| rate | codec | tool | frames | keys | asked | written % | CPU ms/frame | vs SSR | vs ffmpeg | "
          "MB/min | vs SSR | RSS start -> end MiB |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    by = {(r["rate"], r["codec"], r["tool"]): r for r in rows}

    def ratio(r, peer_name, key="ms_per_frame"):
        p = by.get((r["rate"], r["codec"], peer_name))
        if not p or not p.get(key) or not r.get(key):
            return ""
        return "%.2f" % (r[key] / p[key])

    for r in rows:
        asked = int(round(r["rate"] * float(r.get("seconds", 0))))
        frames = r.get("frames", 0) or 0
        per = r.get("ms_per_frame")
        rss = ""
        if r.get("rss_start_kib"):
            rss = f"{r['rss_start_kib'] / 1024:.0f} -> {r['rss_end_kib'] / 1024:.0f}"
        mb = r.get("mb_per_min")
        print(f"| {r['rate']} | {r['codec']} | {r['tool']} | {frames} | {r.get('keys', '')} | {asked} | "
              f"{100.0 * frames / asked if asked else 0:.1f} | {'%.2f' % per if per else '-'} | "
              f"{ratio(r, 'SimpleScreenRecorder')} | {ratio(r, 'ffmpeg')} | {'%.1f' % mb if mb else '-'} | "
              f"{ratio(r, 'SimpleScreenRecorder', 'mb_per_min')} | {rss} |")
    for r in rows:
        if r["tool"].startswith("kestrel") and "write_mean_ms" in r:
            print(f"kestrel {r['rate']} fps {r['codec']}: frames every {r['write_mean_ms']:.3f} ms "
                  f"(asked {1000 / r['rate']:.3f}), grabs every {r['grab_mean_ms']:.3f} ms" +
                  (f"; UI delay (a second run, with the probe) max {r['ui_delay_max_ms']:.1f} ms, "
                   f"p99 {r['ui_delay_p99_ms']:.1f} ms" if "ui_delay_max_ms" in r else "") +
                  (f"; {r['inner_due']} frames due, {r['inner_lost']} lost"
                   if r.get("inner_lost") is not None else "") +
                  (f"; user-interface thread {1000 * r['inner_ui_cpu_s'] / r['inner_frames']:.2f} CPU ms/frame "
                   f"of {1000 * r['inner_cpu_s'] / r['inner_frames']:.2f} (whole recording, inside)"
                   if r.get("inner_ui_cpu_s") is not None and r.get("inner_frames") else ""))


if __name__ == "__main__":
    main()
