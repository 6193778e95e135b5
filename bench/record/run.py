#!/usr/bin/env python3
"""Live recording, side by side: Kestrel, ffmpeg's x11grab and
SimpleScreenRecorder record the same rectangle of moving content at the same
rate with the same encoder settings, one after the other in one X session.

    bash scripts/xsession.sh --screen 1920x1080x24 \\
        python3 bench/record/run.py BUILD_DIR [--seconds 20] [--rows 30:H264,30:MJPG,...] [--long 300]

Prints one JSON line per run and a Markdown table of ratios. CPU is the
user + system time of the recording process (all its threads) while it
records; frames are the non-empty packets ffprobe finds in the file.
"""
import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

RECT = (320, 180, 1280, 720)  # left, top, width, height: the moving picture

# Kestrel's compressor settings, and the same for the peers. Kestrel writes
# every frame as a key frame; the peers get g=1 for that, and their own
# defaults in extra rows.
CODECS = {
    "H264": {"kestrel": "H264",
             "ffmpeg": ["-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-crf", "23",
                        "-pix_fmt", "yuv420p"],
             "ssr": {"video_codec": "h264", "video_codec_av": "libx264", "video_h264_crf": "23",
                     "video_h264_preset": "0"}},
    "MJPG": {"kestrel": "MJPG",
             "ffmpeg": ["-c:v", "mjpeg", "-q:v", "4", "-pix_fmt", "yuvj420p"],
             "ssr": {"video_codec": "other", "video_codec_av": "mjpeg"}},
    "DIB": {"kestrel": "DIB ",
            "ffmpeg": ["-c:v", "rawvideo", "-pix_fmt", "bgr0"],
            "ssr": {"video_codec": "other", "video_codec_av": "rawvideo"}},
}


def log(*a):
    print(*a, file=sys.stderr, flush=True)


def frames_in(path):
    try:
        out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "packet=size",
                              "-of", "csv=p=0", path], capture_output=True, text=True, timeout=120).stdout
    except subprocess.TimeoutExpired:
        return -1
    return sum(1 for line in out.split() if line.strip().isdigit() and int(line) > 0)


def run_measured(argv, stdin_script=None, env=None):
    """Runs a process; returns (rusage cpu seconds, wall seconds, stdout)."""
    t0 = time.monotonic()
    proc = subprocess.Popen(argv, stdin=subprocess.PIPE if stdin_script else subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    if stdin_script:
        stdin_script(proc)
    out = proc.stdout.read().decode(errors="replace")
    err = proc.stderr.read().decode(errors="replace")
    _, status, ru = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - t0
    if proc.returncode != 0:
        log("failed:", " ".join(argv), err[-800:])
    return ru.ru_utime + ru.ru_stime, wall, out, proc.returncode


def kestrel(build, work, rate, codec, seconds):
    out = os.path.join(work, f"kestrel-{rate}-{codec}.avi")
    cpu, wall, stdout, rc = run_measured(
        [os.path.join(build, "bench", "record", "record_bench"), out, str(rate), CODECS[codec]["kestrel"],
         str(seconds), *map(str, RECT)])
    row = {"tool": "kestrel", "rate": rate, "codec": codec, "ok": rc == 0}
    if rc == 0:
        inner = json.loads(stdout.strip().splitlines()[-1])
        row.update(inner)
        row["frames"] = frames_in(out)
        # The process's own figure covers the recording only (not start-up or
        # the compressor dialog's speed trials).
        row["cpu_s"] = inner["cpu_s"]
    os.remove(out) if os.path.exists(out) else None
    return row


def ffmpeg(work, rate, codec, seconds, keyframes_only=True):
    out = os.path.join(work, f"ffmpeg-{rate}-{codec}.avi")
    x, y, w, h = RECT
    argv = ["ffmpeg", "-y", "-v", "error", "-f", "x11grab", "-draw_mouse", "0", "-framerate", str(rate),
            "-video_size", f"{w}x{h}", "-i", f"{os.environ['DISPLAY']}+{x},{y}", "-t", str(seconds),
            *CODECS[codec]["ffmpeg"]]
    if keyframes_only:
        argv += ["-g", "1"]
    argv.append(out)
    cpu, wall, _, rc = run_measured(argv)
    row = {"tool": "ffmpeg" + ("" if keyframes_only else " (default GOP)"), "rate": rate, "codec": codec,
           "ok": rc == 0, "cpu_s": cpu, "seconds": seconds, "frames": frames_in(out)}
    os.remove(out) if os.path.exists(out) else None
    return row


def ssr_settings(path, out, rate, codec, keyframes_only):
    x, y, w, h = RECT
    o = dict(CODECS[codec]["ssr"])
    lines = ["[input]", "video_area=fixed", f"video_x={x}", f"video_y={y}", f"video_w={w}", f"video_h={h}",
             f"video_frame_rate={rate}", "video_scale=false", "video_record_cursor=false", "audio_enabled=false",
             "[output]", f"file={out}", "separate_files=false", "add_timestamp=false", "container=other",
             "container_av=avi", "video_allow_frame_skipping=true",
             "video_options=" + ("g=1" if keyframes_only else "")]
    lines += [f"{k}={v}" for k, v in o.items()]
    lines += ["[welcome]", "skip_page=true"]
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def ssr(work, rate, codec, seconds, keyframes_only=True):
    out = os.path.join(work, f"ssr-{rate}-{codec}.avi")
    settings = os.path.join(work, f"ssr-{rate}-{codec}.conf")
    stats = os.path.join(work, f"ssr-{rate}-{codec}.stats")
    ssr_settings(settings, out, rate, codec, keyframes_only)

    def drive(proc):
        time.sleep(seconds)
        for cmd in ("record-save", "quit"):
            proc.stdin.write((cmd + "\n").encode())
            proc.stdin.flush()
            time.sleep(1.0)
        proc.stdin.close()

    cpu, wall, _, rc = run_measured(["simplescreenrecorder", f"--settingsfile={settings}", f"--statsfile={stats}",
                                     "--no-systray", "--start-hidden", "--start-recording"], drive)
    row = {"tool": "SimpleScreenRecorder" + ("" if keyframes_only else " (default GOP)"), "rate": rate,
           "codec": codec, "ok": rc == 0 and os.path.exists(out), "cpu_s": cpu, "seconds": seconds,
           "frames": frames_in(out) if os.path.exists(out) else 0}
    os.remove(out) if os.path.exists(out) else None
    return row


def ensure_peers():
    if subprocess.run(["which", "simplescreenrecorder"], capture_output=True).returncode != 0:
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", "simplescreenrecorder"],
                       check=False, stdout=subprocess.DEVNULL)


def moving_content():
    x, y, w, h = RECT
    return subprocess.Popen(["ffplay", "-v", "error", "-noborder", "-left", str(x), "-top", str(y), "-x", str(w),
                             "-y", str(h), "-f", "lavfi", f"testsrc2=size={w}x{h}:rate=30"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--seconds", type=float, default=20)
    ap.add_argument("--rows", default="30:H264,30:MJPG,30:DIB,10:H264,10:MJPG,10:DIB")
    ap.add_argument("--defaults", action="store_true", help="also run the peers with their default GOP")
    ap.add_argument("--long", type=float, default=0, help="one long Kestrel H.264 run for memory growth")
    args = ap.parse_args()
    ensure_peers()
    work = tempfile.mkdtemp(prefix="kestrel-bench-record-")
    content = moving_content()
    time.sleep(2)
    rows = []
    try:
        for spec in args.rows.split(","):
            rate_s, codec = spec.split(":")
            rate = int(rate_s)
            for fn in (kestrel,):
                rows.append(fn(args.build, work, rate, codec, args.seconds))
                print(json.dumps(rows[-1]), flush=True)
            for fn in (ffmpeg, ssr):
                rows.append(fn(work, rate, codec, args.seconds))
                print(json.dumps(rows[-1]), flush=True)
                if args.defaults and codec == "H264":
                    rows.append(fn(work, rate, codec, args.seconds, keyframes_only=False))
                    print(json.dumps(rows[-1]), flush=True)
        if args.long:
            r = kestrel(args.build, work, 30, "H264", args.long)
            r["tool"] = "kestrel (long run)"
            rows.append(r)
            print(json.dumps(r), flush=True)
    finally:
        content.terminate()
    table(rows)


def table(rows):
    print()
    print("| rate | codec | tool | frames | asked | written % | CPU s | CPU ms/frame | ratio to SSR |")
    print("|---|---|---|---|---|---|---|---|---|")
    by = {}
    for r in rows:
        by[(r["rate"], r["codec"], r["tool"])] = r
    for r in rows:
        asked = int(round(r["rate"] * float(r.get("seconds", 0))))
        frames = r.get("frames", 0) or 0
        per = 1000.0 * r.get("cpu_s", 0) / frames if frames > 0 else float("nan")
        peer = by.get((r["rate"], r["codec"], "SimpleScreenRecorder"))
        ratio = ""
        if peer and peer.get("frames", 0) > 0 and frames > 0:
            ratio = "%.2f" % (per / (1000.0 * peer["cpu_s"] / peer["frames"]))
        print(f"| {r['rate']} | {r['codec']} | {r['tool']} | {frames} | {asked} | "
              f"{100.0 * frames / asked if asked else 0:.1f} | {r.get('cpu_s', 0):.2f} | {per:.2f} | {ratio} |")
    for r in rows:
        if r["tool"].startswith("kestrel") and r.get("ok"):
            print(f"kestrel {r['rate']} fps {r['codec']}: Timer1 mean spacing {r['timer1_mean_ms']:.3f} ms "
                  f"(asked {1000 // r['rate']}), getpic {r['getpic_mean_ms']:.3f} ms; grab {r['grab_busy_s']:.2f} s, "
                  f"write {r['write_busy_s']:.2f} s busy; RSS {r['rss_start_kib']} -> {r['rss_end_kib']} KiB "
                  f"(peak {r['rss_peak_kib']})")


if __name__ == "__main__":
    main()
