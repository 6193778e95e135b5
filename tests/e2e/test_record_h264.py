#!/usr/bin/env python3
"""A whole H.264 recording with "Key frame every" set to 30 in the
compressor dialog, driven as a person would (see test_record.py for how).

A moving picture lies under the capture rectangle. The file must hold key
frames at every 30th frame and only there, as its index says (ffprobe's
packet flags) and as the decoder finds them (its frames' key-frame flags);
it decodes without an error, and a seek into the middle of a group shows a
picture that a full decode shows too, not the remains of a missing one.
"""
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import (act, begin_recording, center, enabled, find, find_app, frame, load_pyatspi,  # noqa: E402
                         make_workdir, mouse_to, output, start_kestrel, stop, visible_windows, wait_for)

os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
os.environ.setdefault("NO_AT_BRIDGE", "0")
pyatspi = load_pyatspi(always_system_python=True,
                       missing_hint="python3-pyatspi is missing (scripts/deps.sh installs it)")

RATE = 10
INTERVAL = 30
FRAME_AT = (380, 260)


def log(*a):
    print(*a, flush=True)


def show_moving_picture():
    proc = subprocess.Popen(["ffplay", "-v", "error", "-noborder", "-left", "200", "-top", "150", "-window_title",
                             "moving", "-f", "lavfi", "testsrc2=size=800x600:rate=25"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for(lambda: visible_windows("^moving$"), 20, what="the moving picture")
    time.sleep(1)
    return proc


def start_h264(app, remote):
    """Start, then H.264 picked in the compressor dialog, its key-frame box
    set to INTERVAL, OK. Returns the box's first value."""
    act(wait_for(lambda: (lambda b: b if enabled(b) else None)(find(remote, "push button", "Start")),
                 what="Start enabled"))
    comp = wait_for(lambda: frame(app, "Choose Cinepake Codec for default compression"), what="the compressor dialog")
    item = wait_for(lambda: find(comp, "table cell", "H.264") or find(comp, "list item", "H.264")
                    or find(comp, "tree item", "H.264"), what="H.264")
    mouse_to(*center(item), click=True, sync=True)
    time.sleep(0.3)
    box = wait_for(lambda: find(comp, "spin button", "Key frame every"), what="the key-frame box")
    value = box.queryValue()
    first = value.currentValue
    value.currentValue = INTERVAL
    wait_for(lambda: box.queryValue().currentValue == INTERVAL, what="the interval typed")
    act(wait_for(lambda: find(comp, "push button", "OK"), what="OK"))
    return first


def main():
    work = make_workdir("kestrel-e2e-h264-")
    config = os.path.join(work, "config")
    os.makedirs(os.path.join(config, "kestrel"))
    with open(os.path.join(config, "kestrel", "kestrel.ini"), "w") as f:
        f.write(f"[setup]\nframerate={RATE}\n")
    out_file = os.path.join(work, "e2e-h264.avi")
    picture = show_moving_picture()
    proc = start_kestrel(config, env={"QT_QPA_PLATFORM": "xcb"}, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        app = wait_for(lambda: find_app(proc.pid), 30, what="Kestrel on the accessibility bus")
        remote, rect = begin_recording(app, out_file, FRAME_AT, frame_size=(320, 240))  # H.264 takes even sides
        log("capture rectangle:", rect)
        first = start_h264(app, remote)
        log("key-frame box offered", first)
        assert first == 250, f"H.264's own spacing is offered first, not {first}"
        wait_for(lambda: os.path.exists(out_file), what="the file")
        time.sleep(8)
        act(wait_for(lambda: find(remote, "push button", "Stop"), what="Stop"))
        wait_for(lambda: not find(remote, "push button", "Stop").getState().contains(pyatspi.STATE_ENABLED),
                 what="Stop done")
        assert proc.poll() is None, "Kestrel ended during the recording"
        check_file(out_file)
    finally:
        stop(proc)
        stop(picture)
        log(proc.stdout.read().decode(errors="replace")[-2000:])
    log("PASS")


def check_file(path):
    info = json.loads(output("ffprobe", "-v", "error", "-select_streams", "v:0", "-show_streams", "-show_packets",
                             "-of", "json", path))
    info["frames"] = json.loads(output("ffprobe", "-v", "error", "-select_streams", "v:0", "-show_frames",
                                       "-of", "json", path))["frames"]
    st = info["streams"][0]
    assert st["codec_name"] == "h264", st["codec_name"]
    # Positions of lost ticks are empty chunks: no picture, no key frame.
    packets = [p for p in info["packets"] if int(p.get("size", 0)) > 0]
    keys = [i for i, p in enumerate(packets) if "K" in p.get("flags", "")]
    log("frames:", len(packets), "key frames at", keys)
    assert len(packets) >= 2 * INTERVAL + 1, f"only {len(packets)} frames in about 8 s of recording"
    assert keys == list(range(0, len(packets), INTERVAL)), keys
    decoded = [int(f["key_frame"]) for f in info["frames"]]
    assert decoded == [1 if i in keys else 0 for i in range(len(packets))], "the decoder finds other key frames"

    full = output("ffmpeg", "-v", "error", "-xerror", "-i", path, "-map", "0:v", "-f", "framemd5", "-")
    sums = {line.rsplit(",", 1)[1].strip() for line in full.splitlines() if line and not line.startswith("#")}
    # 4.5 s in: in the middle of the second group.
    seek = output("ffmpeg", "-v", "error", "-ss", "4.5", "-i", path, "-map", "0:v", "-frames:v", "1", "-f",
                  "framemd5", "-")
    got = [line.rsplit(",", 1)[1].strip() for line in seek.splitlines() if line and not line.startswith("#")]
    assert len(got) == 1 and got[0] in sums, "a seek shows a picture no full decode shows"


if __name__ == "__main__":
    main()
