#!/usr/bin/env python3
"""Fails when a file under src/ includes a header from a layer above its own,
or when the recording layer runs the event loop itself.

The layers, lowest first: platform, framework, components, recording,
target and builder (side by side, neither includes the other), app. A file
may include headers of its own folder's layer and of the layers below. A
recording's commands have done what they do when they return: nothing in
recording/ pumps messages, so no click or grab can run inside a write.
"""
import pathlib
import re
import sys

RANK = {"platform": 0, "framework": 1, "components": 2, "recording": 3, "target": 4, "builder": 4, "app": 5}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
PUMP = re.compile(r'\b(ProcessMessages|processEvents)\s*\(')


def layer(path: str):
    top = path.split("/", 1)[0]
    return top if top in RANK else None


def violations(src: pathlib.Path):
    for f in sorted(src.rglob("*")):
        if f.suffix not in (".h", ".cpp"):
            continue
        own = layer(f.relative_to(src).as_posix())
        if own is None:
            continue
        for n, line in enumerate(f.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            if own == "recording" and PUMP.search(line.split("//", 1)[0]):
                yield f"{f.relative_to(src.parent)}:{n}: recording/ runs the event loop"
            m = INCLUDE.match(line)
            if not m:
                continue
            other = layer(m.group(1))
            if other is None or other == own:
                continue
            if RANK[other] >= RANK[own]:
                yield f"{f.relative_to(src.parent)}:{n}: {own}/ includes {m.group(1)} ({other}/ is not below {own}/)"


def selftest():
    """The check itself: an upward and a sideways include are found, a downward one is not."""
    import tempfile
    with tempfile.TemporaryDirectory() as d:
        src = pathlib.Path(d) / "src"
        for name, text in {
            "recording/up.cpp": '#include "app/mainwindow.h"\n',
            "target/side.cpp": '#include "builder/avibuilder.h"\n',
            "recording/pump.cpp": 'void f() { framework::ProcessMessages(); }  // processEvents() in a comment\n',
            "app/down.cpp": '#include "recording/session.h"\n#include "platform/gdi/bitmap.h"\n',
        }.items():
            (src / name).parent.mkdir(parents=True, exist_ok=True)
            (src / name).write_text(text)
        found = list(violations(src))
    ok = len(found) == 3 and all(any(name in v for v in found) for name in ("up.cpp", "side.cpp", "pump.cpp"))
    print("\n".join(found))
    print("selftest", "passed" if ok else "FAILED")
    return 0 if ok else 1


def main(argv):
    if len(argv) > 1 and argv[1] == "--selftest":
        return selftest()
    src = pathlib.Path(argv[1] if len(argv) > 1 else pathlib.Path(__file__).resolve().parents[2] / "src")
    found = list(violations(src))
    for v in found:
        print(v)
    print(f"{len(found)} upward include(s) in {src}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
