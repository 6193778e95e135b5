"""Kestrel as installed on a desktop.

    install_test.py data-files        the desktop entry, the AppStream file and
                                      the man page pass their validators, and
                                      agree with one another and the project
    install_test.py layout            `cmake --install` into a scratch prefix
    install_test.py package-build     cpack -G DEB, unpacked with dpkg-deb -x
    install_test.py package-contents  the package's control fields and files
    install_test.py package-runs      the packaged binary answers --version
    install_test.py package-lintian   lintian finds no error and no warning

Every check runs; the failures are listed together at the end.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

SOURCE = os.environ.get("KESTREL_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "../.."))
BUILD = os.environ.get("KESTREL_BINARY_DIR", os.path.join(SOURCE, "build"))
VERSION = os.environ.get("KESTREL_VERSION", "2.5")
TMP = os.environ.get("KESTREL_TEST_TMP") or os.path.join(BUILD, "test-tmp")
PACKAGE_DIR = os.path.join(TMP, "package")
PACKAGE_ROOT = os.path.join(PACKAGE_DIR, "root")

DESKTOP = os.path.join(SOURCE, "data/kestrel.desktop")
METAINFO_ID = "io.github.kestrel.Kestrel"
METAINFO = os.path.join(SOURCE, "data", METAINFO_ID + ".metainfo.xml")
MANPAGE = os.path.join(SOURCE, "man/kestrel.1")
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
        print("FAIL:", message)
    return ok


def run(*argv, env=None, timeout=240):
    return subprocess.run(list(argv), capture_output=True, text=True, env=env, timeout=timeout)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def desktop_entry(path):
    entry = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if "=" in line and not line.startswith("#"):
                key, value = line.rstrip("\n").split("=", 1)
                entry[key] = value
    return entry


def data_files():
    r = run("desktop-file-validate", DESKTOP)
    check(r.returncode == 0 and not (r.stdout + r.stderr).strip(),
          "desktop-file-validate is not clean:\n" + r.stdout + r.stderr)

    r = run("appstreamcli", "validate", "--no-net", METAINFO)
    check(r.returncode == 0, "appstreamcli validate failed:\n" + r.stdout + r.stderr)

    # -ww: every warning troff has; -z: only the diagnostics, not the page.
    r = run("groff", "-man", "-Tutf8", "-ww", "-z", MANPAGE, env=dict(os.environ, LC_ALL="C.UTF-8"))
    check(r.returncode == 0 and not r.stderr.strip(), "groff warns about the man page:\n" + r.stderr)
    r = run("man", "-l", MANPAGE, env=dict(os.environ, MANWIDTH="80", PAGER="cat"))
    text = re.sub(".\b", "", r.stdout)  # bold and underline by overstriking, if a terminal is assumed
    check(r.returncode == 0 and "--list-compressors" in text,
          "man -l does not render the page (exit %d):\n%s%s" % (r.returncode, r.stdout[:400], r.stderr))

    # The three files are edited by hand: a version bump or a rename in one
    # must not leave the others behind.
    root = ET.parse(METAINFO).getroot()
    check(root.findtext("id") == METAINFO_ID, "the metainfo id is not its file name")
    launchable = root.findtext("launchable")
    check(launchable == os.path.basename(DESKTOP), "the metainfo launches %r, not the desktop entry" % launchable)
    releases = [r.get("version") for r in root.iter("release")]
    check(releases[:1] == [VERSION], "the newest release in the metainfo is %r, not %s" % (releases[:1], VERSION))
    images = [i.text or "" for i in root.iter("image")]
    check(images, "the metainfo has no screenshot")
    for url in images:
        committed = re.sub(r"^.*?/(docs/screenshots/.*)$", r"\1", url)
        check(os.path.isfile(os.path.join(SOURCE, committed)), "the screenshot %s is not in the sources" % url)
    # The bus name a running Kestrel takes is the one the metainfo says it provides.
    check([d.text for d in root.iter("dbus")] == [METAINFO_ID], "the metainfo does not provide the bus name")
    binaries = [b.text for b in root.iter("binary")]
    entry = desktop_entry(DESKTOP)
    check(entry.get("Exec", "").split()[:1] == binaries, "Exec=%s is not the binary the metainfo provides (%s)"
          % (entry.get("Exec"), binaries))
    with open(MANPAGE, encoding="utf-8") as f:
        th = f.readline()
    check(('"Kestrel %s"' % VERSION) in th, "the man page's title line does not say Kestrel %s: %s" % (VERSION, th))


def installed_files(prefix, what):
    """The files a desktop looks for, under an installed prefix."""
    def need(rel):
        path = os.path.join(prefix, rel)
        check(os.path.isfile(path), "%s: %s is missing" % (what, rel))
        return path

    binary = need("bin/kestrel")
    check(os.access(binary, os.X_OK), "%s: bin/kestrel is not executable" % what)
    entry = desktop_entry(need("share/applications/kestrel.desktop"))
    check(os.path.isfile(os.path.join(prefix, "bin", entry.get("Exec", "-").split()[0])),
          "%s: the desktop entry's Exec is not in bin/" % what)
    need("share/metainfo/%s.metainfo.xml" % METAINFO_ID)
    # Where D-Bus tools look for the interface a running Kestrel serves.
    interface = need("share/dbus-1/interfaces/%s.xml" % METAINFO_ID)
    if os.path.isfile(interface):
        names = [i.get("name") for i in ET.parse(interface).getroot().iter("interface")]
        check(names == [METAINFO_ID], "%s: the bus interface file describes %s" % (what, names))
    for n in ICON_SIZES:
        icon = need("share/icons/hicolor/%dx%d/apps/%s.png" % (n, n, entry.get("Icon")))
        if os.path.isfile(icon):
            check(png_size(icon) == (n, n), "%s: the %dx%d icon is %s" % (what, n, n, png_size(icon)))
    # Compressed, as Debian's policy asks; man reads it as it is.
    page = need("share/man/man1/kestrel.1.gz")
    if os.path.isfile(page):
        r = run("man", "-l", page, env=dict(os.environ, MANWIDTH="80", PAGER="cat"))
        check(r.returncode == 0 and "build-avi" in re.sub(".\b", "", r.stdout),
              "%s: man -l cannot read the compressed page: %s" % (what, r.stderr))
    # Who holds the rights to what is shipped, under which licences, and
    # what changed, where Debian keeps them for every package.
    copyright = need("share/doc/kestrel/copyright")
    if os.path.isfile(copyright):
        with open(copyright, encoding="utf-8") as f:
            text = f.read()
        check(text.startswith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"),
              "%s: the copyright file is not in Debian's machine-readable format" % what)
        check("License: CC0-1.0" in text, "%s: the copyright file does not give the metainfo's licence" % what)
    need("share/doc/kestrel/changelog.gz")
    # The program looks for its help pages beside its binary, as
    # <bindir>/../share/kestrel/help.
    help_dir = os.path.join(prefix, "bin", "..", "share", "kestrel", "help")
    for page in sorted(os.listdir(os.path.join(SOURCE, "docs/help"))):
        check(os.path.isfile(os.path.join(help_dir, page)), "%s: help page %s is missing" % (what, page))

    r = run("readelf", "-d", binary)
    check(BUILD not in r.stdout, "%s: the binary still looks for libraries in the build tree" % what)
    return binary


def layout():
    prefix = os.path.join(TMP, "install-prefix")
    shutil.rmtree(prefix, ignore_errors=True)
    r = run("cmake", "--install", BUILD, "--prefix", prefix)
    if not check(r.returncode == 0, "cmake --install failed:\n" + r.stdout + r.stderr):
        return
    installed_files(prefix, "cmake --install")


def deb_path():
    arch = run("dpkg", "--print-architecture").stdout.strip()
    return os.path.join(PACKAGE_DIR, "kestrel_%s_%s.deb" % (VERSION, arch))


def package_build():
    shutil.rmtree(PACKAGE_DIR, ignore_errors=True)
    os.makedirs(PACKAGE_DIR)
    r = run("cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", PACKAGE_DIR)
    if not check(r.returncode == 0, "cpack failed:\n" + r.stdout + r.stderr):
        return
    debs = [f for f in os.listdir(PACKAGE_DIR) if f.endswith(".deb")]
    if not check(os.path.isfile(deb_path()), "cpack made %s, not %s" % (debs, os.path.basename(deb_path()))):
        return
    r = run("dpkg-deb", "-x", deb_path(), PACKAGE_ROOT)
    check(r.returncode == 0, "dpkg-deb -x failed:\n" + r.stderr)


def package_contents():
    deb = deb_path()
    fields = {}
    for name in ("Package", "Version", "Architecture", "Section", "Maintainer", "Depends", "Description"):
        fields[name] = run("dpkg-deb", "-f", deb, name).stdout.strip()
    print("Depends:", fields["Depends"])
    check(fields["Package"] == "kestrel", "Package: %r" % fields["Package"])
    check(fields["Version"] == VERSION, "Version: %r" % fields["Version"])
    check(fields["Section"] == "video", "Section: %r" % fields["Section"])
    check(re.fullmatch(r"[^<>]+ <[^<>@\s]+@[^<>\s]+>", fields["Maintainer"]), "Maintainer: %r" % fields["Maintainer"])
    check(fields["Description"].count("\n") >= 2, "the description has no long part")
    # What dpkg-shlibdeps found the binary needs.
    depends = [d.split()[0] for d in re.split(r"\s*[,|]\s*", fields["Depends"]) if d]
    for lib in ("libqt6core6", "libqt6gui6", "libqt6widgets6", "libavcodec", "libswscale", "libxcb1", "libc6"):
        check(any(d.startswith(lib) for d in depends), "Depends does not name %s: %s" % (lib, fields["Depends"]))

    binary = installed_files(os.path.join(PACKAGE_ROOT, "usr"), "package")
    r = run("readelf", "-S", "-W", binary)
    check(".debug_info" not in r.stdout, "the packaged binary carries its debugging information")
    listing = run("dpkg-deb", "-c", deb).stdout.splitlines()
    check(listing and all(line.split()[1] == "root/root" for line in listing),
          "files in the package are not owned by root:\n" + "\n".join(listing[:5]))
    check(all(re.search(r" \./(usr/.*)?$", line) for line in listing),
          "the package puts files outside /usr:\n" + "\n".join(l for l in listing if " ./usr" not in l))


def package_runs():
    # --version needs no display: the packaged binary runs with none at all,
    # so this also shows its libraries resolve on this system.
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    r = run(os.path.join(PACKAGE_ROOT, "usr/bin/kestrel"), "--version", env=env, timeout=30)
    check(r.returncode == 0 and r.stdout.strip() == "kestrel " + VERSION,
          "kestrel --version: exit %d, output %r, errors %r" % (r.returncode, r.stdout, r.stderr))


def package_lintian():
    # Debian's own checks of a package. Informational tags (hardening hints,
    # the help pages outside /usr/share/doc) are not failures; errors and
    # warnings are.
    if not shutil.which("lintian"):
        print("lintian is not installed (scripts/deps.sh installs it); skipped")
        return
    r = run("lintian", "--allow-root", "--no-cfg", "--fail-on", "error,warning", deb_path(), timeout=280)
    print(r.stdout + r.stderr)
    tags = [line for line in r.stdout.splitlines() if line[:2] in ("E:", "W:")]
    check(r.returncode == 0 and not tags, "lintian: exit %d\n%s" % (r.returncode, "\n".join(tags) or r.stderr))
    # The description says what Kestrel does today, Wayland included.
    description = run("dpkg-deb", "-f", deb_path(), "Description").stdout
    check("Wayland" in description and "needs X11" not in description,
          "the description does not say what Kestrel does in a Wayland session:\n" + description)


CASES = {"data-files": data_files, "layout": layout, "package-build": package_build,
         "package-contents": package_contents, "package-runs": package_runs, "package-lintian": package_lintian}

if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in CASES:
        sys.exit("usage: install_test.py " + "|".join(CASES))
    os.makedirs(TMP, exist_ok=True)
    CASES[sys.argv[1]]()
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    print("ok")
