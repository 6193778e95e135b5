#!/usr/bin/env python3
"""A running Kestrel answers commands, and records from the command line.

Runs inside scripts/xsession.sh (Xvfb, openbox, a session bus).
`kestrel --pause`, --resume, --stop, --cancel and --status reach the running
program over the session bus (io.github.kestrel.Kestrel, the interface the
installed XML describes, its State property signalling its changes) and act
as its own buttons do; with no Kestrel running they say so and exit 1.
`kestrel --record FILE --area X,Y,W,H --rate N --compressor NAME` records
without the dialogs, through the same program, and ffprobe reads what it
wrote: the frames, the rate and the length. Bad arguments exit 2 and touch
no file.
"""
import os
import re
import resource
import signal
import subprocess
import sys
import time
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import BIN, make_workdir, outer_bounds, run, visible_windows, wait_for  # noqa: E402

SOURCE = os.environ.get("KESTREL_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "../.."))
BUS_NAME = "io.github.kestrel.Kestrel"
OBJECT_PATH = "/io/github/kestrel/Kestrel"


def kestrel(*args, timeout=60, env=None):
    return run(BIN, *args, timeout=timeout, env=dict(os.environ, **(env or {})))


def start_recorder(work, *args):
    """kestrel --record in the background, in the folder `work` with its
    settings in a folder of their own."""
    config = os.path.join(work, "config")
    runtime = os.path.join(work, "runtime")
    os.makedirs(config, exist_ok=True)
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    return subprocess.Popen([BIN, "--record", *args], env=dict(os.environ, XDG_CONFIG_HOME=config,
                                                                XDG_RUNTIME_DIR=runtime),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=work)


def finish(proc, timeout=30):
    """The exit status and output of a recorder that is ending; one that
    does not end within `timeout` is killed and the test fails."""
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, err = proc.communicate()
        raise AssertionError("kestrel --record did not end:\n" + err)
    return proc.returncode, out, err


def abandon(proc):
    """A recorder whose test failed midway: ended, so the next test finds no Kestrel."""
    if proc.poll() is None:
        proc.kill()
        proc.wait()


def avi_files(folder):
    """The recordings in a folder, and their unfinished files."""
    return sorted(f for f in os.listdir(folder) if ".avi" in f)


def status():
    r = kestrel("--status")
    fields = dict(line.split(": ", 1) for line in r.stdout.splitlines() if ": " in line)
    return r.returncode, fields


def probe(path):
    out = run("ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
              "stream=width,height,r_frame_rate,nb_read_frames,duration", "-of", "default=nw=1", path).stdout
    return dict(line.split("=", 1) for line in out.split() if "=" in line)


def decodes(path):
    r = run("ffmpeg", "-v", "error", "-i", path, "-f", "null", "-", timeout=60)
    return r.returncode == 0 and not r.stderr.strip()


def wait_state(state, proc, timeout=20):
    """Waits for the running Kestrel's state; a recorder that ended
    meanwhile fails the test with what it said."""
    def reached():
        if proc.poll() is not None:
            raise AssertionError("kestrel --record ended (%d): %s" % (proc.returncode, proc.stderr.read()))
        return status()[1].get("state") == state
    end = time.monotonic() + timeout
    while not reached():
        if time.monotonic() > end:
            abandon(proc)
            raise AssertionError("timed out waiting for the state %s: %s" % (state, proc.stderr.read()))
        time.sleep(0.1)


class NoKestrel(unittest.TestCase):
    def test_commands_say_that_no_kestrel_runs(self):
        for command in ("--status", "--pause", "--resume", "--stop", "--cancel"):
            r = kestrel(command)
            self.assertEqual((r.returncode, r.stdout), (1, ""), command)
            self.assertEqual(r.stderr, "kestrel: no Kestrel is running\n", command)
        # No session bus at all: the same answer, with the reason.
        r = kestrel("--status", env={"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/bus"})
        self.assertEqual(r.returncode, 1)
        self.assertIn("kestrel: no Kestrel is running (there is no session bus", r.stderr)
        r = kestrel("--status", "file.avi")
        self.assertEqual(r.returncode, 2)
        self.assertIn("kestrel: --status takes no files, not 'file.avi'", r.stderr)


class BadArguments(unittest.TestCase):
    def test_refused_with_status_2_and_no_file_touched(self):
        work = make_workdir("kestrel-control-")
        out = os.path.join(work, "keep.avi")
        with open(out, "wb") as f:
            f.write(b"an earlier recording")
        good = ["--record", out, "--area", "0,0,64,48", "--rate", "10", "--compressor", "MJPG"]
        cases = [
            (["--record", out, "--rate", "10", "--compressor", "MJPG"],
             "--record needs what to record: --area X,Y,W,H or --window"),
            (good + ["--window"], "--area and --window cannot be given together"),
            (["--record", out, "--area", "0,0,64,48", "--compressor", "MJPG"],
             "--record needs --rate N, the frames per second (1 to 1000)"),
            (["--record", out, "--area", "0,0,64,48", "--rate", "10"],
             "--record needs --compressor FOURCC|NAME; 'kestrel --list-compressors' lists them"),
            (["--record", out, "--area", "1,2,3", "--rate", "10", "--compressor", "MJPG"],
             "--area takes X,Y,W,H in pixels (left, top, width, height), for example 0,0,640,480, not '1,2,3'"),
            (["--record", out, "--area", "0,0,0,48", "--rate", "10", "--compressor", "MJPG"],
             "--area 0,0,0,48: each side is 1 to 16384 pixels"),
            (["--record", out, "--area", "0,0,64,48", "--rate", "0", "--compressor", "MJPG"],
             "--rate takes a whole number of frames per second from 1 to 1000, not '0'"),
            (["--record", out, "--area", "0,0,64,48", "--rate", "10", "--compressor", "nonesuch"],
             "--compressor: no compressor is called 'nonesuch'; 'kestrel --list-compressors' lists them"),
            (good + ["--seconds", "0"], "--seconds takes a whole number of seconds from 1 on, not '0'"),
            (good + ["--seconds", "2.5"], "--seconds takes a whole number of seconds from 1 on, not '2.5'"),
            (good + ["other.avi"], "--record takes one file, FILE after it, not 'other.avi' too"),
            (["--record", out, "--area", "0,0,65,48", "--rate", "10", "--compressor", "H264"],
             "H.264 cannot compress frames of 65x48: it "),
            (["--build-avi", out, "--seconds", "3", "a.bmp"], "--seconds goes with --record"),
            (good + ["--stop"], "--record and --stop cannot be given together"),
        ]
        for args, words in cases:
            # Without a display too: nothing gets as far as the program.
            r = kestrel(*args, env={"DISPLAY": ""})
            self.assertEqual(r.returncode, 2, (args, r.stderr))
            self.assertIn("kestrel: " + words, r.stderr, args)
            self.assertIn("Try 'kestrel --help' for more information.", r.stderr, args)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), b"an earlier recording")
        self.assertEqual(sorted(os.listdir(work)), ["keep.avi"])
        # A folder that is not there is no bad usage, but nothing starts.
        r = kestrel("--record", os.path.join(work, "no", "x.avi"), *good[2:])
        self.assertEqual(r.returncode, 1)
        self.assertIn("cannot be created: the folder %s/no does not exist" % work, r.stderr)


class Recording(unittest.TestCase):
    def test_three_seconds_of_an_area(self):
        """--seconds 3 at 10 frames/s: 30 frames of the area's size at 10/1,
        3.0 s long; the remote control below it and --status meanwhile."""
        work = make_workdir("kestrel-control-")
        out = os.path.join(work, "area.avi")
        # Named from its folder: --status names it whole all the same.
        proc = start_recorder(work, "area.avi", "--area", "100,120,320,240", "--rate", "10", "--compressor", "MJPG",
                              "--seconds", "3")
        try:
            wait_for(lambda: status()[1].get("health", "").startswith("REC "), 20, what="the recording's health")
            code, fields = status()
            self.assertEqual(code, 0)
            self.assertEqual(fields["state"], "recording")
            self.assertEqual(fields["file"], out + ".unfinished")
            self.assertRegex(fields["health"], r"^REC 00:0\d - \d+ fr - ")
            remote = wait_for(lambda: visible_windows("^Remote Control$"), 10, what="the remote control")
            # It stands below the rectangle: its top on the rectangle's bottom.
            self.assertEqual(outer_bounds(remote[0])[:2], (100, 360))
        finally:
            code, stdout, stderr = finish(proc)
        self.assertEqual(code, 0, stderr)
        self.assertEqual(stdout, "area.avi: 30 frames (3.0 s) at 10 frames/s, Motion JPEG\n")
        info = probe(out)
        self.assertEqual((info["width"], info["height"], info["r_frame_rate"]), ("320", "240", "10/1"))
        self.assertEqual(info["nb_read_frames"], "30")
        self.assertAlmostEqual(float(info["duration"]), 3.0, places=2)
        self.assertTrue(decodes(out))
        self.assertEqual(avi_files(work), ["area.avi"])
        self.assertEqual(kestrel("--status").returncode, 1)

    def test_commands_and_the_bus_interface(self):
        """Pause, Resume and Stop from the command line; the State property
        and its PropertiesChanged; the interface the installed XML describes."""
        work = make_workdir("kestrel-control-")
        out = os.path.join(work, "commands.avi")
        monitor = subprocess.Popen(["gdbus", "monitor", "--session", "--dest", BUS_NAME,
                                    "--object-path", OBJECT_PATH], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True)
        launched = time.monotonic()
        proc = start_recorder(work, out, "--area", "0,0,200,100", "--rate", "20", "--compressor", "Full Frames",
                              "--no-remote")
        try:
            wait_state("recording", proc)
            seen = time.monotonic()
            self.assertEqual(visible_windows("^Remote Control$"), [])
            introspected = run("gdbus", "introspect", "--session", "--dest", BUS_NAME, "--object-path",
                               OBJECT_PATH, "--xml").stdout
            self.assertEqual(interface(ET.fromstring(introspected)),
                             interface(ET.parse(os.path.join(SOURCE, "data", BUS_NAME + ".xml")).getroot()))
            time.sleep(1)
            pause_call = time.monotonic()
            r = kestrel("--pause")
            pause_done = time.monotonic()
            self.assertEqual((r.returncode, r.stdout, r.stderr), (0, "", ""))
            self.assertEqual(status()[1]["state"], "paused")
            prop = run("gdbus", "call", "--session", "--dest", BUS_NAME, "--object-path", OBJECT_PATH,
                       "--method", "org.freedesktop.DBus.Properties.Get", BUS_NAME, "State").stdout
            self.assertEqual(prop.strip(), "(<'paused'>,)")
            self.assertEqual(kestrel("--pause").returncode, 0)  # paused already: nothing to do, no error
            # Paused time adds no frames (the figures come once a second).
            time.sleep(1.2)
            frames = int(status()[1]["health"].split(" - ")[1].split()[0])
            time.sleep(1.5)
            later = int(status()[1]["health"].split(" - ")[1].split()[0])
            self.assertEqual(later, frames)
            resume_call = time.monotonic()
            r = kestrel("--resume")
            resume_done = time.monotonic()
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(status()[1]["state"], "recording")
            time.sleep(1)
            stop_call = time.monotonic()
            r = kestrel("--stop")
            stop_done = time.monotonic()
            self.assertEqual(r.returncode, 0, r.stderr)
            code, stdout, stderr = finish(proc)
        finally:
            abandon(proc)
            monitor.terminate()
            signals = monitor.communicate()[0]
        self.assertEqual(code, 0, stderr)
        self.assertIn(out + ": ", stdout)
        info = probe(out)
        self.assertEqual((info["width"], info["height"], info["r_frame_rate"]), ("200", "100", "20/1"))
        # The file lasts as long as the recording ran, the pause of more than
        # 2.7 s cut out: each command took effect while it ran, so the time
        # lies between bounds (and the first frame comes 0.1 s after Start).
        shortest = (pause_call - seen) + (stop_call - resume_done) - 0.15
        longest = (pause_done - launched) + (stop_done - resume_call) + 0.05
        self.assertGreater(resume_call - pause_done, 2.7)
        self.assertTrue(shortest <= float(info["duration"]) <= longest, (shortest, info["duration"], longest))
        self.assertTrue(decodes(out))
        changes = [line for line in signals.splitlines() if "PropertiesChanged" in line]
        for state in ("recording", "paused", "stopping", "idle"):
            self.assertTrue(any("'State': <'%s'>" % state in line for line in changes), (state, changes))

    def test_cancel_ends_it_keeping_the_frames(self):
        work = make_workdir("kestrel-control-")
        out = os.path.join(work, "cancelled.avi")
        proc = start_recorder(work, out, "--area", "0,0,64,48", "--rate", "10", "--compressor", "MJPG", "--quiet")
        try:
            wait_state("recording", proc)
            self.assertEqual(kestrel("--resume").returncode, 0)  # it runs: nothing to do, no error
            time.sleep(1)
            r = kestrel("--cancel")
            self.assertEqual((r.returncode, r.stderr), (0, ""))
            code, stdout, stderr = finish(proc)
        finally:
            abandon(proc)
        self.assertEqual((code, stdout), (0, ""), stderr)
        self.assertRegex(stderr, r"^kestrel: %s: cancelled; it holds [1-9]\d* frames" % out)
        self.assertTrue(decodes(out))
        r = kestrel("--cancel")
        self.assertEqual((r.returncode, r.stderr), (1, "kestrel: no Kestrel is running\n"))

    def test_ctrl_c_completes_the_file(self):
        work = make_workdir("kestrel-control-")
        out = os.path.join(work, "interrupted.avi")
        proc = start_recorder(work, out, "--area", "10,10,160,120", "--rate", "10", "--compressor", "ZMBV",
                              "--quiet")
        wait_state("recording", proc)
        time.sleep(1.5)
        proc.send_signal(signal.SIGINT)
        code, stdout, stderr = finish(proc)
        self.assertEqual(code, 130, stderr)
        self.assertEqual(stdout, "")
        self.assertRegex(stderr, r"^kestrel: %s: stopped by Ctrl\+C; it holds [1-9]\d* frames \(\d+\.\d s\)\n$" % out)
        self.assertTrue(decodes(out))
        self.assertEqual(avi_files(work), ["interrupted.avi"])

    def test_a_failure_ends_it_with_status_1_and_the_file_plays(self):
        """The file size limit reached mid-recording: the reason on standard
        error, exit status 1, and FILE holds the frames written."""
        work = make_workdir("kestrel-control-")
        out = os.path.join(work, "limited.avi")
        config = os.path.join(work, "config")
        os.makedirs(config)

        def limited():
            # A write past the limit fails with EFBIG instead of ending the program.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (3 << 20, 3 << 20))

        proc = subprocess.Popen([BIN, "--record", out, "--area", "0,0,320,240", "--rate", "30", "--compressor",
                                 "DIB", "--quiet"], env=dict(os.environ, XDG_CONFIG_HOME=config),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, preexec_fn=limited)
        code, stdout, stderr = finish(proc)
        self.assertEqual((code, stdout), (1, ""), stderr)
        self.assertRegex(stderr, r"kestrel: Recording stopped: the file reached the largest size this system "
                                 r"allows\. limited\.avi holds (\d+) frames \(\d\.\d s\) and plays\.")
        kept = int(re.search(r"holds (\d+) frames", stderr).group(1))
        self.assertGreater(kept, 3)
        self.assertEqual(probe(out)["nb_read_frames"], str(kept))
        self.assertTrue(decodes(out))
        self.assertEqual(avi_files(work), ["limited.avi"])

    def test_the_window_in_front(self):
        """--window: the window in front with its frame, as Window mode lays
        the capture frame over it, followed when it moves."""
        work = make_workdir("kestrel-control-")
        out = os.path.join(work, "window.avi")
        xlogo = subprocess.Popen(["xlogo", "-geometry", "240x180+300+200"])
        try:
            wid = wait_for(lambda: (run("xdotool", "search", "--sync", "--onlyvisible", "--class", "xlogo")
                                    .stdout.split() or [None])[0], 10, what="xlogo")
            run("xdotool", "windowactivate", "--sync", wid)
            time.sleep(0.5)
            left, top, width, height = outer_bounds(wid)
            proc = start_recorder(work, out, "--window", "--rate", "10", "--compressor", "DIB", "--seconds", "3",
                                  "--no-remote")
            wait_state("recording", proc)
            # Moved once frames are in the file: the first frame shows the
            # window where it was, before the frame has followed it.
            def recorded():
                health = status()[1].get("health", "")
                return " - " in health and int(health.split(" - ")[1].split()[0]) > 0
            wait_for(recorded, 10, what="the first frames")
            run("xdotool", "windowmove", "--sync", wid, "400", "300")
            code, stdout, stderr = finish(proc)
        finally:
            xlogo.terminate()
            xlogo.wait(5)
        self.assertEqual(code, 0, stderr)
        info = probe(out)
        self.assertEqual((int(info["width"]), int(info["height"])), (width, height))
        self.assertEqual(info["nb_read_frames"], "30")
        # The first frame and the last show the same window: white xlogo
        # background over most of both.
        for where in ("0", "2.9"):
            pixels = run("ffmpeg", "-v", "error", "-ss", where, "-i", out, "-frames:v", "1", "-f", "rawvideo",
                         "-pix_fmt", "gray", "-", text=False).stdout
            self.assertEqual(len(pixels), width * height)
            white = sum(1 for p in pixels if p > 200)
            self.assertGreater(white, width * height // 2, where)
        self.assertGreater(left + top, 0)


def interface(root):
    """The methods (with their arguments' types and directions) and the
    properties of Kestrel's interface in an introspection document."""
    node = next(i for i in root.iter("interface") if i.get("name") == BUS_NAME)
    methods = {m.get("name"): [(a.get("type"), a.get("direction", "in")) for a in m.iter("arg")]
               for m in node.iter("method")}
    properties = {p.get("name"): (p.get("type"), p.get("access")) for p in node.iter("property")}
    return methods, properties


if __name__ == "__main__":
    unittest.main(verbosity=2)
