#!/usr/bin/env python3
"""Dolphin's thumbnails: KIO's preview job over the installed plugin, as Dolphin asks for them.

  test_kio.py BUILD_DIR SOURCE_DIR PROBE PLUGIN

The build is installed under a temporary prefix; the probe (a KIO::PreviewJob with only our
plugin enabled) asks for 256-pixel previews of a real .psu, a real .max and a card image, and
each picture must equal what `marrowin-cli thumbnail -s 256` draws. A file of random bytes
named .psu gets no picture, fast, and a save asked for after it still gets one.

Then the same plugin beside a stand-in marrowin-cli that hangs, floods its output or draws the
wrong size: each gets no picture within the plugin's deadline, the hung program is killed, and
the worker still serves the next file.

With MARROWIN_INSTALLED_PREFIX set (say /usr, after installing the packages), the first part
tests that installation instead. Exit 77 (skipped) when KIO's thumbnail worker (kio-extras)
is not installed.
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
from file_manager_support import read_png  # noqa: E402

SKIP = 77
SIZE = 256
WORKER = Path("/usr/lib/x86_64-linux-gnu/qt5/plugins/kf5/kio/thumbnail.so")
# The plugin's own deadline; KIO's round trip adds little.
DEADLINE_S = 10
# A file that is no save is turned away by marrowin-cli itself, long before the deadline.
REJECTED_S = 5
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)
    return cond


def run(cmd, **kw):
    kw.setdefault("timeout", 120)
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def kio_env(work, plugins):
    """An environment of its own: the plugin found through QT_PLUGIN_PATH (the worker, a child
    of the job, inherits it), our MIME types, and caches and settings that start empty."""
    home = work / "home"
    for sub in ("cache", "config", "data", "runtime"):
        (home / sub).mkdir(parents=True, exist_ok=True)
    (home / "runtime").chmod(0o700)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "KDE_", "QT_", "DBUS_"))}
    env.update(HOME=str(home), XDG_CACHE_HOME=str(home / "cache"), XDG_CONFIG_HOME=str(home / "config"),
               XDG_DATA_HOME=str(home / "data"), XDG_RUNTIME_DIR=str(home / "runtime"),
               XDG_DATA_DIRS=f"{work / 'mime'}:/usr/share", QT_PLUGIN_PATH=str(plugins),
               QT_QPA_PLATFORM="offscreen")
    return env


def preview(probe, env, work, files, name):
    """{file name: (("preview", png path) | ("failed", None), seconds)} from one preview job."""
    out = work / f"previews-{name}"
    out.mkdir()
    result = run([str(probe), str(SIZE), str(out)] + [str(f) for f in files], env=env, timeout=180)
    check(result.returncode == 0, f"{name}: probe exit {result.returncode}: {result.stdout}{result.stderr}")
    answers = {}
    for line in result.stdout.splitlines():
        kind, _, rest = line.partition(" ")
        if kind not in ("preview", "failed"):
            continue
        # Names may hold spaces: the fields after them are counted from the end.
        words = rest.rsplit(" ", 2 if kind == "preview" else 1)
        answers[words[0]] = (kind, out / f"{words[0]}.png" if kind == "preview" else None,
                             int(words[-1]) / 1000.0)
    for f in files:
        check(Path(f).name in answers, f"{name}: no answer for {Path(f).name}: {result.stdout}{result.stderr}")
    return answers


def compare(kio_png, cli_png, what):
    """The same picture: sizes equal, alpha equal, colours equal once premultiplied (the
    preview passes through a premultiplied pixmap, which rounds a translucent pixel's colour)."""
    kw, kh, krows = read_png(kio_png)
    cw, ch, crows = read_png(cli_png)
    if not check((kw, kh) == (cw, ch) == (SIZE, SIZE), f"{what}: KIO {kw}x{kh}, CLI {cw}x{ch}"):
        return
    wrong, drawn = 0, 0
    for krow, crow in zip(krows, crows):
        for i in range(0, len(krow), 4):
            ka, ca = krow[i + 3], crow[i + 3]
            drawn += ca > 0
            if ka != ca or any(abs(krow[i + c] * ka - crow[i + c] * ca) > 255 for c in range(3)):
                wrong += 1
    check(drawn > SIZE * SIZE // 20, f"{what}: the CLI drew only {drawn} pixels")
    check(wrong == 0, f"{what}: {wrong} of {SIZE * SIZE} pixels differ from marrowin-cli thumbnail")


def plugin_dir_of(prefix):
    found = sorted(prefix.glob("lib/**/kf5/thumbcreator/marrowinthumbnail.so"))
    check(found, f"marrowinthumbnail.so not installed under {prefix}")
    return found[0] if found else None


def real_files(cli, source, work):
    saves = work / "saves"
    saves.mkdir()
    demo = saves / "demo.psu"
    shutil.copyfile(source / "samples/demo.psu", demo)
    ff12 = saves / "final-fantasy12.max"
    shutil.copyfile(source / "tests/data/formats/final-fantasy12.max", ff12)
    card = saves / "Memory Card.ps2"
    result = run([str(cli), "card", "format", str(card)])
    if check(result.returncode == 0, f"card format: {result.stderr}"):
        result = run([str(cli), "card", "import", "--no-backup", str(card), str(demo)])
        check(result.returncode == 0, f"card import: {result.stderr}")
    return [demo, ff12, card]


def test_installed(build, source, probe, work):
    prefix = Path(os.environ.get("MARROWIN_INSTALLED_PREFIX") or work / "prefix")
    if "MARROWIN_INSTALLED_PREFIX" not in os.environ:
        result = run(["cmake", "--install", str(build), "--prefix", str(prefix)])
        if not check(result.returncode == 0, f"cmake --install: {result.stdout}{result.stderr}"):
            return None
    plugin = plugin_dir_of(prefix)
    if not plugin:
        return None
    # The MIME types as the package installs them, in a database of our own.
    (work / "mime/mime/packages").mkdir(parents=True)
    shutil.copyfile(prefix / "share/mime/packages/marrowin.xml", work / "mime/mime/packages/marrowin.xml")
    result = run(["update-mime-database", str(work / "mime/mime")])
    check(result.returncode == 0, f"update-mime-database: {result.stderr}")

    cli = prefix / "bin/marrowin-cli"
    files = real_files(cli, source, work)
    hostile = work / "saves/random.psu"
    hostile.write_bytes(random.Random(22).randbytes(64 * 1024))
    after = work / "saves/after.psu"
    shutil.copyfile(files[0], after)
    env = kio_env(work, plugin.parents[2])
    answers = preview(probe, env, work, files + [hostile, after], "installed")
    for f in files + [after]:
        kind, png, _ = answers.get(f.name, ("missing", None, 0))
        if not check(kind == "preview", f"{f.name}: KIO gave no picture ({kind})"):
            continue
        cli_png = work / f"{f.name}.cli.png"
        result = run([str(cli), "thumbnail", "-s", str(SIZE), str(f), str(cli_png)])
        if check(result.returncode == 0, f"marrowin-cli thumbnail {f.name}: {result.stderr}"):
            compare(png, cli_png, f.name)
    kind, _, seconds = answers.get(hostile.name, ("missing", None, 0))
    check(kind == "failed", f"random bytes named .psu: {kind}, not failed")
    check(seconds < REJECTED_S, f"random bytes named .psu took {seconds:.1f} s to fail")
    return plugin, prefix


STAND_IN = r"""#!/bin/sh
# A marrowin-cli that misbehaves as the input's name says; a good one is drawn by the real one.
# The input is the last argument but one (the last is "-").
eval "input=\${$(($# - 1))}"
case "$input" in
  *hangs*)  echo $$ > "$PIDS/hangs"; exec sleep 60 ;;
  *closes*) exec >&-; echo $$ > "$PIDS/closes"; exec sleep 60 ;;
  *floods*) exec yes ;;
  *small*)  exec "$REAL_CLI" thumbnail -s 16 "$input" - ;;
  *fails*)  "$REAL_CLI" "$@"; exit 1 ;;
  *)        exec "$REAL_CLI" "$@" ;;
esac
"""


def test_stand_in(plugin, prefix, probe, work):
    """The plugin against a program that never answers well: killed on time, no picture, and
    the worker goes on."""
    fake = work / "fake"
    fake_plugin = fake / plugin.relative_to(prefix)
    fake_plugin.parent.mkdir(parents=True)
    shutil.copyfile(plugin, fake_plugin)
    (fake / "bin").mkdir()
    (fake / "bin/marrowin-cli").write_text(STAND_IN)
    (fake / "bin/marrowin-cli").chmod(0o755)
    pids = work / "pids"
    pids.mkdir()
    env = kio_env(work, fake_plugin.parents[2])
    env.update(PIDS=str(pids), REAL_CLI=str(prefix / "bin/marrowin-cli"))
    demo = work / "saves/demo.psu"
    names = ["hangs", "closes", "floods", "small", "fails", "drawn"]
    files = []
    for name in names:
        files.append(work / "saves" / f"{name}.psu")
        shutil.copyfile(demo, files[-1])
    started = time.monotonic()
    answers = preview(probe, env, work, files, "stand-in")
    check(time.monotonic() - started < 2 * DEADLINE_S + 60, "the stand-in job took too long")
    for name in names[:-1]:
        kind, _, seconds = answers.get(f"{name}.psu", ("missing", None, 0))
        check(kind == "failed", f"stand-in that {name}: {kind}, not failed")
        check(seconds < DEADLINE_S + 5, f"stand-in that {name}: answered after {seconds:.1f} s")
    kind, png, _ = answers.get("drawn.psu", ("missing", None, 0))
    if check(kind == "preview", f"a save after the stand-ins: {kind}, no picture"):
        check(read_png(png)[:2] == (SIZE, SIZE), "a save after the stand-ins: wrong size")
    for name in ("hangs", "closes"):
        pid_file = pids / name
        if check(pid_file.is_file(), f"stand-in that {name} never ran"):
            pid = int(pid_file.read_text())
            check(not Path(f"/proc/{pid}").exists() or "zombie" in Path(f"/proc/{pid}/status").read_text().lower(),
                  f"stand-in that {name} (pid {pid}) still runs")


if __name__ == "__main__":
    build, source, probe = (Path(a).resolve() for a in sys.argv[1:4])
    if not WORKER.is_file():
        print(f"SKIPPED: KIO's thumbnail worker ({WORKER}, kio-extras) is not installed")
        sys.exit(SKIP)
    if not shutil.which("update-mime-database"):
        print("SKIPPED: update-mime-database (shared-mime-info) is not installed")
        sys.exit(SKIP)
    with tempfile.TemporaryDirectory(prefix="marrowin-kio-") as tmp:
        installed = test_installed(build, source, probe, Path(tmp))
        if installed:
            test_stand_in(*installed, probe, Path(tmp))
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")
    print("ok")
