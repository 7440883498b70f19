#!/usr/bin/env python3
"""marrowin-cli's file commands start without the OpenGL libraries; the picture commands,
handed to marrowin-cli-gl, behave as if marrowin-cli ran them itself.

  cli_without_gl.py CLI PICTURE_PROGRAM SOURCE_DIR
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

# What the dynamic loader must not bring in for a file command.
GL_LIBRARY = re.compile(r"/lib(EGL|GL|OpenGL|GLU|GLX|GLdispatch|png16?)\.so")

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)
    return cond


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, timeout=120, **kw)


def loaded_libraries(cmd, cwd):
    """The exit status and the shared libraries the loader initialised for one run."""
    env = dict(os.environ, LD_DEBUG="libs")
    result = run(cmd, env=env, cwd=cwd)
    text = result.stderr.decode(errors="replace")
    libs = re.findall(r"calling init: (\S+)", text)
    return result.returncode, libs


def gl_libraries(libs):
    return sorted({lib for lib in libs if GL_LIBRARY.search(lib)})


def check_file_commands(cli, source, work):
    card = work / "card.ps2"
    shutil.copyfile(source / "tests/data/formats/mc02.ps2", card)
    demo = source / "samples/demo.psu"
    runs = {
        "info": [cli, "info", demo],
        "info --json (.max)": [cli, "info", "--json", source / "tests/data/formats/final-fantasy12.max"],
        "extract": [cli, "extract", "-C", work / "out", demo],
        "card ls": [cli, "card", "ls", card],
        "check": [cli, "check", demo],
        "--version": [cli, "--version"],
    }
    (work / "out").mkdir()
    for what, cmd in runs.items():
        code, libs = loaded_libraries([str(c) for c in cmd], work)
        check(code == 0, f"{what} exited {code}")
        check(libs, f"{what}: LD_DEBUG=libs showed no library at all (cannot judge)")
        check(not gl_libraries(libs), f"{what} loads {gl_libraries(libs)}")


def check_picture_commands(cli, gl, source, work):
    demo = source / "samples/demo.psu"
    # The probe sees GL when it is there, or the checks above would pass for nothing.
    code, libs = loaded_libraries([str(cli), "thumbnail", "-s", "64", str(demo), "probe.png"], work)
    check(code == 0, f"thumbnail through marrowin-cli exited {code}")
    check(any("libEGL" in lib for lib in gl_libraries(libs)), "thumbnail loads no libEGL: probe broken")

    # The same picture from either program, written to a file or to standard output.
    for size in ("128", "37"):
        via = run([str(cli), "thumbnail", "-s", size, str(demo), "via.png"], cwd=work)
        direct = run([str(gl), "thumbnail", "-s", size, str(demo), "direct.png"], cwd=work)
        check(via.returncode == 0 and direct.returncode == 0,
              f"thumbnail -s {size}: {via.returncode} {direct.returncode} {via.stderr!r}")
        check((work / "via.png").read_bytes() == (work / "direct.png").read_bytes(),
              f"thumbnail -s {size}: marrowin-cli and marrowin-cli-gl draw different pictures")
        piped = run([str(cli), "thumbnail", "-s", size, str(demo), "-"], cwd=work)
        check(piped.stdout == (work / "direct.png").read_bytes(),
              f"thumbnail -s {size} to standard output differs from the file")
    render = run([str(cli), "render", "--size", "64x48", "-o", "r.png", str(demo)], cwd=work)
    check(render.returncode == 0 and (work / "r.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n",
          f"render exited {render.returncode}: {render.stderr!r}")

    # Failures, usage and help come back as they are: status, standard error and output.
    not_a_save = work / "plain.psu"
    not_a_save.write_bytes(b"not a save" * 100)
    for args in (["thumbnail", str(not_a_save), "x.png"], ["thumbnail"], ["render", "--size", "0x0"],
                 ["thumbnail", "--help"], ["render", "--help"]):
        via = run([str(cli)] + args, cwd=work)
        direct = run([str(gl)] + args, cwd=work)
        check((via.returncode, via.stdout, via.stderr) == (direct.returncode, direct.stdout, direct.stderr),
              f"{args}: marrowin-cli gives {via.returncode} {via.stderr!r}, "
              f"marrowin-cli-gl {direct.returncode} {direct.stderr!r}")
    check(not (work / "x.png").exists(), "a failed thumbnail left a picture")
    helped = run([str(cli), "help", "render"], cwd=work)
    check(helped.returncode == 0 and b"usage: marrowin-cli render" in helped.stdout,
          f"help render: {helped.returncode} {helped.stderr!r}")
    stray = run([str(gl), "info", str(demo)], cwd=work)
    check(stray.returncode == 2, f"marrowin-cli-gl info exited {stray.returncode}, not 2 (usage)")


def check_missing_picture_program(cli, source, work):
    """Alone, marrowin-cli still does file work and says why it cannot draw."""
    lone = work / "lone"
    lone.mkdir()
    shutil.copy2(cli, lone / "marrowin-cli")
    demo = source / "samples/demo.psu"
    result = run([str(lone / "marrowin-cli"), "thumbnail", str(demo), "t.png"], cwd=work)
    check(result.returncode == 1, f"thumbnail without its program exited {result.returncode}, not 1")
    check(b"marrowin-cli-gl" in result.stderr, f"the message names no program: {result.stderr!r}")
    check(not (work / "t.png").exists(), "thumbnail without its program wrote a picture")
    check(run([str(lone / "marrowin-cli"), "info", str(demo)]).returncode == 0,
          "info fails without the picture program")


def main():
    cli, gl, source = (Path(a).resolve() for a in sys.argv[1:4])
    with tempfile.TemporaryDirectory(prefix="marrowin-nogl-") as tmp:
        work = Path(tmp)
        check_file_commands(cli, source, work)
        check_picture_commands(cli, gl, source, work)
        check_missing_picture_program(cli, source, work)
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")
    print("ok")


if __name__ == "__main__":
    main()
