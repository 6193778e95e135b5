#!/usr/bin/env python3
"""Kestrel's command line as a script or a person at a terminal uses it:
--help and --version answer without any display; anything else it does not
know is refused with a usage message; --build-avi makes the file the
builder panel makes (read back by ffprobe/ffmpeg), checks every file before
it writes, never destroys an input or an existing file, names each problem
with its file and its cause, shows a progress bar on a terminal, and stops
on Ctrl+C keeping the frames written; --list-compressors lists what there
is. The exit status is 0 done, 1 failed, 2 bad usage, 130 Ctrl+C.
"""
import os
import shutil
import signal
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kestrel_e2e import BIN, make_workdir, run, wait_for  # noqa: E402


def no_display():
    env = dict(os.environ)
    for k in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(k, None)
    return env


def kestrel(*args, timeout=60, prefix=(), **kw):
    return run(*prefix, BIN, *args, timeout=timeout, env=no_display(), **kw)


def write_bmp(path, width, height, pixel=lambda x, y: (10, 20, 30)):
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


def noise_bmps(folder, count, width=640, height=480):
    """Bitmaps of noise: slow to compress and large, so a build takes a while."""
    files = []
    for i in range(count):
        f = os.path.join(folder, "m%03d.bmp" % i)
        data = os.urandom(width * height * 3)
        header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
        with open(f, "wb") as out:
            out.write(header + info + data)
        files.append(f)
    return files


def header_frames(path):
    """The frame count the AVI's main header gives (avih dwTotalFrames)."""
    with open(path, "rb") as f:
        head = f.read(64)
    assert head[:4] == b"RIFF" and head[24:28] == b"avih", head[:32]
    return struct.unpack("<I", head[48:52])[0]


class Answers(unittest.TestCase):
    def test_help_and_version_need_no_display(self):
        v = kestrel("--version")
        self.assertEqual(v.returncode, 0, v.stderr)
        self.assertEqual(v.stdout.strip(), "kestrel 2.5")
        h = kestrel("--help")
        self.assertEqual(h.returncode, 0, h.stderr)
        for word in ("--build-avi OUT", "FILE...", "--rate", "--compressor", "--quality", "--quiet",
                     "--list-compressors", "--size", "Exit status", "130", "Report problems to <"):
            self.assertIn(word, h.stdout)
        self.assertEqual(kestrel("-hv").stdout, h.stdout)
        # A reader that cannot take the text: the help did not get out.
        with open("/dev/full", "w") as full:
            r = subprocess.run([BIN, "--help"], stdout=full, stderr=subprocess.PIPE, text=True, env=no_display(),
                               timeout=20)
        self.assertEqual(r.returncode, 1)
        self.assertIn("kestrel: write error: No space left on device", r.stderr)

    def test_refusals_and_their_messages(self):
        """Everything the parser refuses: status 2, the usage lines and the
        words that say what is wrong. Without a display, so that nothing
        gets as far as the desktop program."""
        cases = [
            (["--bogus"], "unknown option '--bogus'"),
            (["--hel"], "unknown option '--hel'; did you mean '--help'?"),
            (["-hx"], "unknown option '-hx'"),
            (["-dash.bmp"], "unknown option '-dash.bmp'; a file whose name begins with '-' goes after '--'"),
            (["a.bmp", "b.bmp"], "'a.bmp' is not an option; to build an AVI file from bitmap files: "
                                 "kestrel --build-avi OUT FILE..."),
            (["--help=yes"], "--help takes no value"),
            (["--"], "no command given"),
            (["--build-avi"], "--build-avi needs a value: --build-avi OUT"),
            (["--build-avi", "x.avi"], "--build-avi x.avi needs the bitmap files to build from"),
            (["--build-avi", "x.avi", "--build-avi", "y.avi", "a.bmp"], "--build-avi is given twice"),
            (["--rate", "5", "a.bmp"], "--rate goes with --build-avi or --record"),
            (["--list-compressors", "--rate", "5"], "--rate goes with --build-avi or --record"),
            (["--build-avi", "x.avi", "--size", "8x8", "a.bmp"], "--size goes with --list-compressors"),
            (["--build-avi", "x.avi", "--list-compressors", "a.bmp"], "--build-avi and --list-compressors cannot be given together"),
            (["--list-compressors", "a.bmp"], "--list-compressors takes no files, not 'a.bmp'"),
            (["--version", "--frobnicate"], "unknown option '--frobnicate'"),
        ]
        # The rate is the program's: 1 to 1000 frames per second, in decimal.
        for rate in ("0", "1001", "2147483647", "0x10", "fast", "+5", "1e3", " 7", "-1"):
            cases.append((["--build-avi", "x.avi", "--rate=" + rate, "a.bmp"],
                          "--rate takes a whole number of frames per second from 1 to 1000, not '%s'" % rate))
        for quality in ("101", "0x10", "-1"):
            cases.append((["--build-avi", "x.avi", "--quality", quality, "a.bmp"],
                          "--quality takes a whole number from 0 to 100, not '%s'" % quality))
        cases += [
            (["--build-avi", "x.avi", "--compressor", "M", "a.bmp"],
             "--compressor 'M' could be Microsoft Video 1, Motion JPEG or MPEG-4 Part 2; say which"),
            (["--build-avi", "x.avi", "--compressor", "nonesuch", "a.bmp"],
             "--compressor: no compressor is called 'nonesuch'; 'kestrel --list-compressors' lists them"),
            (["--list-compressors", "--size", "12"], "--size takes WIDTHxHEIGHT in pixels, for example 1920x1080, not '12'"),
            (["--list-compressors", "--size", "0x10"],
             "--size 0x10: no compressor takes frames of that size; each side is 1 to 16384 pixels"),
            (["--list-compressors", "--size", "16385x16"],
             "--size 16385x16: no compressor takes frames of that size; each side is 1 to 16384 pixels"),
        ]
        for args, words in cases:
            r = kestrel(*args)
            self.assertEqual(r.returncode, 2, (args, r.stdout, r.stderr))
            self.assertIn("kestrel: " + words + "\n", r.stderr, args)
            self.assertIn("Usage: kestrel --build-avi OUT", r.stderr.replace("  or:  ", "Usage: "), args)
            self.assertIn("Try 'kestrel --help' for more information.", r.stderr, args)
            self.assertEqual(r.stdout, "", args)
        # Whole names and FOURCCs, and a beginning that fits one.
        d = make_workdir("kestrel-cli-")
        f = os.path.join(d, "a.bmp")
        write_bmp(f, 16, 8)
        for name in ("Motion JPEG", "mjpg", "Mo", "ut video"):
            r = kestrel("--build-avi", os.path.join(d, "x.avi"), "--compressor", name, "--quiet", f)
            self.assertEqual((r.returncode, r.stdout, r.stderr), (0, "", ""), name)
        # "--" ends the options: a file may begin with a dash.
        dashed = os.path.join(d, "-dash.bmp")
        shutil.copy(f, dashed)
        r = run(BIN, "--build-avi", "out.avi", "--quiet", "--", "-dash.bmp", cwd=d, env=no_display())
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(probe(os.path.join(d, "out.avi"))["nb_read_packets"], "1")

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

    def test_large_sizes_are_measured_on_a_smaller_frame_and_say_so(self):
        """A size past what the encoders' pictures hold is refused by them
        with the reason (not "out of memory"); the measurement stays short,
        shows its progress, and no library prints its own lines."""
        r = kestrel("--list-compressors", "--size", "16384x16384", timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.splitlines()
        self.assertRegex(next(l for l in lines if l.startswith("DIB ")), r"DIB +yes +~[0-9.]+ ")
        self.assertRegex(next(l for l in lines if l.startswith("ULRG")), r"\(takes frames of at most 268 million pixels\)")
        self.assertNotIn("memory", r.stdout)
        self.assertIn("~ measured at 1440x1440 and scaled to 16384x16384", r.stdout)
        self.assertIn("kestrel: measuring Full Frames (Uncompressed) at 16384x16384 (1 of 10)", r.stderr)
        self.assertEqual([l for l in r.stderr.splitlines() if not l.startswith("kestrel: measuring ")], [])
        quiet = kestrel("--list-compressors", "--size", "16384x16384", "--quiet", timeout=120)
        self.assertEqual((quiet.returncode, quiet.stderr), (0, ""))
        self.assertRegex(next(l for l in quiet.stdout.splitlines() if l.startswith("DIB ")), r"DIB +yes +~[0-9.]+ ")


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

    def test_progress_on_a_terminal(self):
        many = noise_bmps(self.dir, 20)
        # A terminal (script(1) gives the program one): the bar is redrawn in place.
        out = os.path.join(self.dir, "tty.avi")
        cmd = " ".join([BIN, "--build-avi", out, "--compressor", "ULRG"] + many)
        r = run("script", "-qec", cmd, "/dev/null", env=no_display(), timeout=120, text=False)
        shown = r.stdout.decode(errors="replace")
        self.assertEqual(r.returncode, 0, shown)
        self.assertIn("\r[", shown)
        self.assertIn("20/20 frames", shown)
        self.assertIn("left", shown)
        r = run("script", "-qec", cmd + " --quiet", "/dev/null", env=no_display(), timeout=120, text=False)
        self.assertEqual((r.returncode, r.stdout), (0, b""))

    def test_names_in_any_bytes(self):
        """A name that is not UTF-8 is read and written under its own bytes."""
        d = os.fsencode(self.dir)
        src = os.path.join(d, b"caf\xe9-\xff.bmp")
        shutil.copy(self.files[0], src)
        out = os.path.join(d, b"r\xe9sultat.avi")
        r = subprocess.run([os.fsencode(BIN), b"--build-avi", out, src, os.fsencode(self.files[1])],
                           capture_output=True, env=no_display(), timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(out + b": 2 frames at 1 frames/s", r.stdout)
        self.assertEqual(probe(out)["nb_read_packets"], "2")
        gone = os.path.join(d, b"gone-\xfe.bmp")
        r = subprocess.run([os.fsencode(BIN), b"--build-avi", out, gone], capture_output=True, env=no_display(),
                           timeout=60)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"kestrel: " + gone + b": there is no such file\n", r.stderr)


class DataSafety(unittest.TestCase):
    """No command loses a file: not an input, not an existing output."""

    def setUp(self):
        self.dir = make_workdir("kestrel-safe-")
        self.files = []
        for i in range(5):
            f = os.path.join(self.dir, "f%02d.bmp" % i)
            write_bmp(f, 32, 16, lambda x, y, i=i: (40 * i, x * 8, y * 16))
            self.files.append(f)

    def contents(self, path):
        with open(path, "rb") as f:
            return f.read()

    def test_an_output_that_is_an_input_is_refused_before_anything_is_written(self):
        f = self.files
        os.symlink(f[1], os.path.join(self.dir, "link.avi"))
        os.link(f[3], os.path.join(self.dir, "hard.avi"))
        before = [self.contents(x) for x in f]
        for out, clash in ((f[2], f[2]), (os.path.join(self.dir, ".", "f02.bmp"), f[2]),
                           (os.path.join(self.dir, "link.avi"), f[1]), (os.path.join(self.dir, "hard.avi"), f[3])):
            r = kestrel("--build-avi", out, f[1], f[2], f[3])
            self.assertEqual(r.returncode, 1, out)
            self.assertIn("one of the files to build from; building would destroy it", r.stderr)
            self.assertIn(clash, r.stderr)
            self.assertEqual([self.contents(x) for x in f], before, out)
        self.assertEqual(sorted(os.listdir(self.dir)), ["f0%d.bmp" % i for i in range(5)] + ["hard.avi", "link.avi"])

    def test_the_whole_list_is_checked_before_an_existing_output_is_touched(self):
        out = os.path.join(self.dir, "out.avi")
        with open(out, "wb") as o:
            o.write(b"the previous take")
        other = os.path.join(self.dir, "wide.bmp")
        write_bmp(other, 33, 16)
        missing = os.path.join(self.dir, "missing.bmp")
        # The 3rd of 5 files is missing, the 5th has another size: both are named.
        r = kestrel("--build-avi", out, self.files[0], self.files[1], missing, self.files[3], other)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.splitlines(), [
            "kestrel: %s: there is no such file" % missing,
            "kestrel: %s: ERROR: Image Format: 33x16 pixels at 24 bits, where the first file, %s, has 32x16 "
            "pixels at 24 bits" % (other, self.files[0]),
            "kestrel: nothing was written; every file must be a bitmap of the size and format of the first"])
        self.assertEqual(self.contents(out), b"the previous take")
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(os.path.basename(x) for x in self.files + [other, out]))
        # All five fine: the build replaces it, keeping its permissions.
        os.chmod(out, 0o640)
        r = kestrel("--build-avi", out, *self.files)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(probe(out)["nb_read_packets"], "5")
        self.assertEqual(os.stat(out).st_mode & 0o777, 0o640)
        self.assertFalse(os.path.exists(out + ".unfinished"))

    def test_ctrl_c_and_kill(self):
        many = noise_bmps(self.dir, 20)
        out = os.path.join(self.dir, "take.avi")
        with open(out, "wb") as o:
            o.write(b"the previous take")
        unfinished = out + ".unfinished"
        p = subprocess.Popen([BIN, "--build-avi", out, "--rate", "10", "--compressor", "H264", "--quality", "100"]
                             + many * 30, env=no_display(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
        wait_for(lambda: os.path.exists(unfinished) and os.path.getsize(unfinished) > 2000000, timeout=60,
                 what="frames written")
        # Until the build ends the frames go elsewhere.
        self.assertEqual(self.contents(out), b"the previous take")
        p.send_signal(signal.SIGINT)
        _, err = p.communicate(timeout=60)
        self.assertEqual(p.returncode, 130, err)
        frames = int(probe(out)["nb_read_packets"])
        self.assertGreater(frames, 0)
        self.assertLess(frames, 600)
        self.assertIn("kestrel: %s: stopped by Ctrl+C; it holds %d frames (%.1f s)" % (out, frames, frames / 10), err)
        self.assertFalse(os.path.exists(unfinished))

        # Killed outright: the unfinished file stays, under its name, and its
        # header counts the frames of up to about a second before.
        p = subprocess.Popen([BIN, "--build-avi", out, "--compressor", "DIB"] + many * 30, env=no_display(),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(unfinished) and os.path.getsize(unfinished) > 5000000, timeout=60,
                 what="frames written")
        p.kill()
        p.wait()
        self.assertEqual(int(probe(out)["nb_read_packets"]), frames)  # the last finished build
        in_file = int(probe(unfinished)["nb_read_packets"])
        self.assertGreater(header_frames(unfinished), 0)
        self.assertLessEqual(header_frames(unfinished), in_file)


class Causes(unittest.TestCase):
    """Every failure says its cause, in the words the desktop program uses."""

    def setUp(self):
        self.dir = make_workdir("kestrel-why-")
        self.bmp = os.path.join(self.dir, "a.bmp")
        write_bmp(self.bmp, 32, 16)

    def failure(self, *args, prefix=()):
        r = kestrel(*args, prefix=prefix)
        self.assertEqual(r.returncode, 1, (args, r.stdout, r.stderr))
        return r.stderr

    def test_inputs_and_outputs_that_cannot_be_used(self):
        d, a = self.dir, self.bmp
        out = os.path.join(d, "o.avi")
        self.assertIn("kestrel: %s/missing.bmp: there is no such file\n" % d,
                      self.failure("--build-avi", out, os.path.join(d, "missing.bmp")))
        self.assertIn("kestrel: %s: it is a folder, not a bitmap file\n" % d, self.failure("--build-avi", out, a, d))
        broken = os.path.join(d, "broken.bmp")
        with open(broken, "wb") as f:
            f.write(b"BM this is no bitmap")
        self.assertIn("kestrel: %s: Bitmap image is not valid (" % broken, self.failure("--build-avi", out, broken))
        self.assertIn("kestrel: %s/no/x.avi: cannot be created: the folder %s/no does not exist\n" % (d, d),
                      self.failure("--build-avi", os.path.join(d, "no", "x.avi"), a))
        self.assertIn("kestrel: %s: cannot be created: %s is a folder\n" % (d, d), self.failure("--build-avi", d, a))
        self.assertIn("kestrel: /dev/null: cannot be created: /dev/null is not an ordinary file\n",
                      self.failure("--build-avi", "/dev/null", a))
        # What no compressor takes: its bit depth, or its size.
        one_bit = os.path.join(d, "mono.bmp")
        run("convert", "-size", "16x8", "xc:white", "-monochrome", "-type", "bilevel", "BMP3:" + one_bit, check=True)
        self.assertIn("kestrel: %s: it has 1-bit pixels, which no compressor takes" % one_bit,
                      self.failure("--build-avi", out, one_bit))
        odd = os.path.join(d, "odd.bmp")
        write_bmp(odd, 31, 15)
        self.assertIn("kestrel: %s: H.264 cannot compress frames of this size or format: it needs an even width "
                      "and height" % odd, self.failure("--build-avi", out, "--compressor", "H264", odd))
        self.assertEqual(sorted(os.listdir(d)), ["a.bmp", "broken.bmp", "mono.bmp", "odd.bmp"])
        # Permissions do not stop root: run as nobody where we are root.
        as_user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] if os.getuid() == 0 else []
        os.chmod(d, 0o755)
        locked = os.path.join(d, "locked.bmp")
        shutil.copy(a, locked)
        os.chmod(locked, 0)
        readonly = os.path.join(d, "readonly")
        os.mkdir(readonly, 0o555)
        err = self.failure("--build-avi", os.path.join(readonly, "o.avi"), locked, prefix=as_user)
        self.assertIn("kestrel: %s/o.avi: cannot be created: permission to write %s is denied\n" % (readonly, readonly),
                      err)
        self.assertIn("kestrel: %s: permission denied\n" % locked, err)
        self.assertEqual(os.listdir(readonly), [])

    def test_a_disk_that_fills_and_the_file_size_limit(self):
        many = noise_bmps(self.dir, 8)
        # A 6 MB tmpfs when this machine lets us mount one.
        small = os.path.join(self.dir, "small")
        os.mkdir(small)
        if run("mount", "-t", "tmpfs", "-o", "size=6m", "tmpfs", small).returncode == 0:
            try:
                out = os.path.join(small, "o.avi")
                err = self.failure("--build-avi", out, *(many * 4))
                frames = int(probe(out)["nb_read_packets"])
                self.assertGreater(frames, 0)
                self.assertIn("kestrel: %s: stopped: the disk is full; it holds %d frames (%d.0 s)\n"
                              % (out, frames, frames), err)
            finally:
                run("umount", small)
        out = os.path.join(self.dir, "limited.avi")
        err = self.failure("--build-avi", out, *(many * 4), prefix=("prlimit", "--fsize=3000000", "--"))
        frames = int(probe(out)["nb_read_packets"])
        self.assertGreater(frames, 0)
        self.assertIn("kestrel: %s: stopped: the file reached the largest size this system allows; it holds %d "
                      "frames" % (out, frames), err)
        self.assertFalse(os.path.exists(out + ".unfinished"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
