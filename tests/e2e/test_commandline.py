#!/usr/bin/env python3
"""Kestrel's command line as a script or a person at a terminal uses it:
--help and --version answer without any display; --build-avi makes the file
the builder panel makes (read back by ffprobe/ffmpeg), names the file an
error is about, shows a progress bar on a terminal, and stops on Ctrl+C
keeping the frames written; --list-compressors lists what there is. The
exit status is 0 done, 1 failed, 2 bad usage.
"""
import os
import signal
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import BIN, make_workdir, run, wait_for  # noqa: E402


def no_display():
    env = dict(os.environ)
    for k in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(k, None)
    return env


def kestrel(*args, timeout=60):
    return run(BIN, *args, timeout=timeout, env=no_display())


def write_bmp(path, width, height, pixel):
    """A 24-bit bottom-up bitmap file; pixel(x, y) gives (r, g, b), y from the top."""
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in reversed(range(height)):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        rows.append(bytes(row) + b"\0" * (stride - width * 3))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def rgb_of(width, height, pixel):
    return b"".join(bytes(pixel(x, y)) for y in range(height) for x in range(width))


def probe(path):
    out = run("ffprobe", "-v", "error", "-count_packets", "-select_streams", "v:0", "-show_entries",
              "stream=codec_tag_string,r_frame_rate,nb_read_packets,width,height", "-of", "default=nw=1",
              path).stdout
    return dict(line.split("=", 1) for line in out.split() if "=" in line)


class Answers(unittest.TestCase):
    def test_help_and_version_need_no_display(self):
        v = kestrel("--version")
        self.assertEqual(v.returncode, 0, v.stderr)
        self.assertEqual(v.stdout.strip(), "kestrel 2.5")
        h = kestrel("--help")
        self.assertEqual(h.returncode, 0, h.stderr)
        for word in ("--build-avi", "--rate", "--compressor", "--quality", "--list-compressors", "--size",
                     "Exit status"):
            self.assertIn(word, h.stdout)

    def test_bad_usage_is_status_2_with_a_hint(self):
        for args in (["--build-avi", "x.avi"], ["--build-avi", "x.avi", "--rate", "fast", "a.bmp"],
                     ["--build-avi", "x.avi", "--rate", "0", "a.bmp"],
                     ["--build-avi", "x.avi", "--compressor", "nonesuch", "a.bmp"],
                     ["--build-avi", "x.avi", "--quality", "101", "a.bmp"],
                     ["--list-compressors", "--size", "12"], ["--version", "--frobnicate"]):
            r = kestrel(*args)
            self.assertEqual(r.returncode, 2, (args, r.stdout, r.stderr))
            self.assertIn("kestrel: ", r.stderr)
        self.assertIn("'fast' is not a valid integer value",
                      kestrel("--build-avi", "x.avi", "--rate", "fast", "a.bmp").stderr)
        self.assertIn("at least 1", kestrel("--build-avi", "x.avi", "--rate", "0", "a.bmp").stderr)

    def test_list_compressors(self):
        r = kestrel("--list-compressors")
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.splitlines()
        self.assertTrue(lines[0].startswith("FOURCC"))
        self.assertTrue(any(line.startswith("DIB ") and "Full Frames" in line for line in lines))
        self.assertTrue(any(line.startswith("ULRG") and " yes " in line for line in lines))
        sized = kestrel("--list-compressors", "--size", "320x240")
        self.assertEqual(sized.returncode, 0, sized.stderr)
        self.assertIn("FRAMES/S", sized.stdout.splitlines()[0])
        full = next(line for line in sized.stdout.splitlines() if line.startswith("DIB "))
        self.assertRegex(full, r"DIB +yes +(>1000|\d+) ")
        # An odd size: what cannot take it has no figure.
        odd = kestrel("--list-compressors", "--size", "255x253")
        h264 = [line for line in odd.stdout.splitlines() if line.startswith("H264")]
        if h264:
            self.assertRegex(h264[0], r"H264 +no +- ")


class Build(unittest.TestCase):
    def setUp(self):
        self.dir = make_workdir("kestrel-cli-")
        self.pixels = [lambda x, y: (255, 0, 0), lambda x, y: (x * 8 % 256, y * 16 % 256, 77),
                       lambda x, y: (0, 0, 255)]
        self.files = []
        for i, p in enumerate(self.pixels):
            f = os.path.join(self.dir, "f%d.bmp" % i)
            write_bmp(f, 30, 14, p)
            self.files.append(f)

    def test_three_files_are_three_key_frames_equal_to_the_files(self):
        for codec, tag in (("ULRG", "ULRG"), ("Full Frames", None), ("ffv1", "FFV1")):
            out = os.path.join(self.dir, "three-%s.avi" % codec.replace(" ", ""))
            r = kestrel("--build-avi", out, "--rate", "6", "--compressor", codec, *self.files)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("3 frames at 6 frames/s", r.stdout)
            info = probe(out)
            self.assertEqual(info["nb_read_packets"], "3")
            self.assertEqual(info["r_frame_rate"], "6/1")
            self.assertEqual((info["width"], info["height"]), ("30", "14"))
            if tag:
                self.assertEqual(info["codec_tag_string"], tag)
            keys = run("ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "packet=flags",
                       "-of", "csv=p=0", out).stdout.split()
            self.assertEqual(keys, ["K_"] * 3)
            decoded = run("ffmpeg", "-v", "error", "-i", out, "-f", "rawvideo", "-pix_fmt", "rgb24", "-",
                          text=False).stdout
            want = b"".join(rgb_of(30, 14, p) for p in self.pixels)
            self.assertEqual(decoded, want, codec)

    def test_errors_name_their_file(self):
        other = os.path.join(self.dir, "big.bmp")
        write_bmp(other, 31, 14, lambda x, y: (1, 2, 3))
        out = os.path.join(self.dir, "mismatch.avi")
        r = kestrel("--build-avi", out, self.files[0], other, self.files[1])
        self.assertEqual(r.returncode, 1)
        self.assertIn("kestrel: %s: ERROR: Image Format" % other, r.stderr)
        self.assertEqual(probe(out)["nb_read_packets"], "1")

        broken = os.path.join(self.dir, "broken.bmp")
        with open(broken, "wb") as f:
            f.write(b"BM this is no bitmap")
        r = kestrel("--build-avi", os.path.join(self.dir, "b.avi"), self.files[0], broken)
        self.assertEqual(r.returncode, 1)
        self.assertIn("kestrel: %s: " % broken, r.stderr)

        r = kestrel("--build-avi", os.path.join(self.dir, "m.avi"), os.path.join(self.dir, "missing.bmp"))
        self.assertEqual(r.returncode, 1)
        self.assertIn("missing.bmp: Cannot open file", r.stderr)

        nowhere = os.path.join(self.dir, "no", "such", "folder", "x.avi")
        r = kestrel("--build-avi", nowhere, *self.files)
        self.assertEqual(r.returncode, 1)
        self.assertIn("kestrel: %s: " % nowhere, r.stderr)

        odd = os.path.join(self.dir, "odd.bmp")
        write_bmp(odd, 31, 15, lambda x, y: (9, 9, 9))
        r = kestrel("--build-avi", os.path.join(self.dir, "odd.avi"), "--compressor", "H264", odd)
        if "no compressor" not in r.stderr:  # H.264 is in every Debian ffmpeg, but say it plainly if not
            self.assertEqual(r.returncode, 1)
            self.assertIn("cannot compress frames of this size", r.stderr)
            self.assertFalse(os.path.exists(os.path.join(self.dir, "odd.avi")))

    def test_progress_on_a_terminal_and_ctrl_c(self):
        many = []
        for i in range(30):
            # Noise: slow to compress and large, so Ctrl+C lands mid-build.
            f = os.path.join(self.dir, "m%03d.bmp" % i)
            data = os.urandom(640 * 480 * 3)
            header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
            info = struct.pack("<IiiHHIIiiII", 40, 640, 480, 1, 24, 0, len(data), 2835, 2835, 0, 0)
            with open(f, "wb") as out:
                out.write(header + info + data)
            many.append(f)
        # A terminal (script(1) gives the program one): the bar is redrawn in place.
        out = os.path.join(self.dir, "tty.avi")
        cmd = " ".join([BIN, "--build-avi", out, "--compressor", "ULRG"] + many[:20])
        r = run("script", "-qec", cmd, "/dev/null", env=no_display(), timeout=120, text=False)
        shown = r.stdout.decode(errors="replace")
        self.assertEqual(r.returncode, 0, shown)
        self.assertIn("\r[", shown)
        self.assertIn("20/20 frames", shown)
        self.assertIn("left", shown)
        # Ctrl+C: the build stops after the frame under way and the file plays.
        out = os.path.join(self.dir, "interrupted.avi")
        p = subprocess.Popen([BIN, "--build-avi", out, "--rate", "10", "--compressor", "H264", "--quality", "100"]
                             + many * 20, env=no_display(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
        wait_for(lambda: os.path.exists(out) and os.path.getsize(out) > 2000000, timeout=60, what="frames written")
        p.send_signal(signal.SIGINT)
        _, err = p.communicate(timeout=60)
        self.assertEqual(p.returncode, 1, err)
        self.assertIn("AVI stopped:", err)
        frames = int(probe(out)["nb_read_packets"])
        self.assertGreater(frames, 0)
        self.assertLess(frames, 600)
        self.assertIn("AVI stopped: %d frames written" % frames, err)


if __name__ == "__main__":
    unittest.main(verbosity=2)
