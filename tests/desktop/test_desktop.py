#!/usr/bin/env python3
"""The installed thumbnailer as real desktop clients run it.

  test_desktop.py tumbler BUILD_DIR SOURCE_DIR
  test_desktop.py bwrap   BUILD_DIR SOURCE_DIR
  test_desktop.py gio     BUILD_DIR SOURCE_DIR

tumbler: Debian's tumbler daemon (Thunar's thumbnail service) on a D-Bus session of our own,
finding the thumbnailer entry of a temporary install prefix through XDG_DATA_DIRS, asked over
D-Bus for thumbnails of real archives; the pictures it caches are checked. Tumbler makes the
output file itself and reads the picture back through the descriptor it keeps open.

bwrap: the Exec line of the installed entry inside a bubblewrap sandbox as GNOME runs it:
nothing shared, /usr read-only, the input bound read-only and only the output file (made
empty beforehand) bound writable.

gio: the program a file manager starts on a double-click, as GIO (GNOME Files, Thunar and
most of GTK) chooses it: each installed desktop entry validated, the entries indexed as the
Debian trigger does (update-desktop-database), then for real files the type GIO sees and that
type's default application.

Exit 77 (skipped) with a message when tumbler, D-Bus, bubblewrap, gio or desktop-file-utils is
not installed.
With MARROWIN_INSTALLED_PREFIX set (say /usr, after installing the Debian package), both test
that installation instead of a temporary one.
"""

import hashlib
import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
from file_manager_support import icon_picture_problems, read_entry, thumbnailer_argv  # noqa: E402

SKIP = 77
TUMBLERD = Path("/usr/lib/x86_64-linux-gnu/tumbler-1/tumblerd")
THUMBNAILER_BUS = "org.freedesktop.thumbnails.Thumbnailer1"
THUMBNAILER_PATH = "/org/freedesktop/thumbnails/Thumbnailer1"
FLAVOR_SIZES = {"normal": 128, "large": 256}

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)
    return cond


def skip(why):
    print(f"SKIPPED: {why}")
    sys.exit(SKIP)


def run(cmd, **kw):
    kw.setdefault("timeout", 60)
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def check_picture(path, side, what):
    """A PNG of side x side with a drawn icon on it: many colours, a fair part not transparent."""
    for problem in icon_picture_problems(path, side):
        check(False, f"{what}: {problem}")


# --- the installed tree ----------------------------------------------------------------------

def install(build, work):
    # MARROWIN_INSTALLED_PREFIX=/usr tests what is installed already (the Debian package)
    # instead of installing the build under a temporary prefix.
    installed = os.environ.get("MARROWIN_INSTALLED_PREFIX")
    if installed:
        return Path(installed)
    prefix = work / "prefix"
    result = run(["cmake", "--install", str(build), "--prefix", str(prefix)], timeout=120)
    if not check(result.returncode == 0, f"cmake --install: {result.stdout}{result.stderr}"):
        return None
    # Tumbler is told the type with each file; a file manager learns it from this database.
    if shutil.which("update-mime-database"):
        result = run(["update-mime-database", str(prefix / "share/mime")])
        check(result.returncode == 0, f"update-mime-database: {result.stderr}")
    return prefix


def thumbnailer_of(prefix):
    entry = read_entry(prefix / "share/thumbnailers/marrowin.thumbnailer", "Thumbnailer Entry")
    check(entry.get("Exec"), "the installed thumbnailer entry has no Exec line")
    return entry


def archives(prefix, source, work):
    """The demo save and saves packed from real icons by the installed marrowin-cli."""
    saves = work / "saves"
    saves.mkdir()
    out = [saves / "demo.psu"]
    shutil.copyfile(source / "samples/demo.psu", out[0])
    data = source / "tests/data"
    for name, descriptor, model, model_name in (("OPL", "opl-icon.sys", "opl.icn", "opl.icn"),
                                                ("DEFAULT", "default-icon.sys", "default-icon.icn",
                                                 "my.icn")):
        folder = work / "folders" / name
        folder.mkdir(parents=True)
        shutil.copyfile(data / descriptor, folder / "icon.sys")
        shutil.copyfile(data / model, folder / model_name)
        result = run([str(prefix / "bin/marrowin-cli"), "pack", "-C", str(saves), str(folder)])
        if check(result.returncode == 0, f"pack {name}: {result.stderr}"):
            out.append(saves / f"{name}.psu")
    # Real saves in every other container, under names of any letter case.
    for sample in ("final-fantasy12.max", "tokyo-xtreme-racer-drift-2.14091.cbs",
                   "max-payne.1394.sps", "BESLES-50325.PSV"):
        out.append(saves / sample)
        shutil.copyfile(data / "formats" / sample, out[-1])
    # A card image holding two saves shows its first one.
    card = saves / "Memory Card.ps2"
    cli = str(prefix / "bin/marrowin-cli")
    result = run([cli, "card", "format", str(card)])
    if check(result.returncode == 0, f"card format: {result.stderr}"):
        result = run([cli, "card", "import", "--no-backup", str(card), str(saves / "OPL.psu"),
                      str(saves / "final-fantasy12.max")])
        if check(result.returncode == 0, f"card import: {result.stderr}"):
            out.append(card)
    return out


# The type a file manager gives each file (by name; the database agrees by content).
MIME_BY_SUFFIX = {".psu": "application/x-ps2-save-archive", ".max": "application/x-ps2-max-save",
                  ".cbs": "application/x-ps2-cbs-save", ".sps": "application/x-ps2-sharkport-save",
                  ".xps": "application/x-ps2-sharkport-save", ".psv": "application/x-ps2-psv-save",
                  ".ps2": "application/x-ps2-memory-card", ".mc2": "application/x-ps2-memory-card"}


def mime_of(path):
    return MIME_BY_SUFFIX[path.suffix.lower()]


# --- tumbler ---------------------------------------------------------------------------------

class Processes:
    """Every process the test starts, each in its own group, ended on the way out."""

    def __init__(self):
        self.started = []

    def start(self, cmd, **kw):
        proc = subprocess.Popen(cmd, start_new_session=True, **kw)
        self.started.append(proc)
        return proc

    def end_all(self):
        for proc in reversed(self.started):
            if proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()


BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def wait_for_name(env, name, deadline):
    while time.monotonic() < deadline:
        result = run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus",
                      "--object-path", "/org/freedesktop/DBus",
                      "--method", "org.freedesktop.DBus.NameHasOwner", name], env=env)
        if result.returncode == 0 and "true" in result.stdout:
            return True
        time.sleep(0.1)
    return False


def test_tumbler(build, source, work):
    for tool, package in (("dbus-daemon", "dbus-daemon"), ("dbus-monitor", "dbus-bin"),
                          ("gdbus", "libglib2.0-bin"), ("stdbuf", "coreutils")):
        if not shutil.which(tool):
            skip(f"{tool} is not installed (package {package})")
    if not os.access(TUMBLERD, os.X_OK):
        skip(f"{TUMBLERD} is not installed (package tumbler)")
    prefix = install(build, work)
    if not prefix:
        return
    thumbnailer_of(prefix)
    saves = archives(prefix, source, work)

    home, cache, tmp = work / "home", work / "cache", work / "tmp"
    for d in (home, cache, tmp, work / "data-home", work / "config"):
        d.mkdir()
    env = {
        "PATH": f"{prefix / 'bin'}:/usr/bin:/bin",
        "HOME": str(home),
        "XDG_DATA_HOME": str(work / "data-home"),
        "XDG_DATA_DIRS": f"{prefix / 'share'}:/usr/share",
        "XDG_CACHE_HOME": str(cache),
        "XDG_CONFIG_HOME": str(work / "config"),
        "XDG_CONFIG_DIRS": "/etc/xdg",
        "TMPDIR": str(tmp),
        "LANG": "C.UTF-8",
        "G_MESSAGES_DEBUG": "all",
    }
    socket = work / "bus"
    (work / "bus.conf").write_text(BUS_CONFIG.format(socket=socket))
    env["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={socket}"

    procs = Processes()
    log = open(work / "tumblerd.log", "w+")
    try:
        procs.start(["dbus-daemon", "--nofork", "--nopidfile", f"--config-file={work / 'bus.conf'}"],
                    env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not socket.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        if not check(socket.exists(), "the D-Bus daemon made no socket"):
            return
        procs.start([str(TUMBLERD)], env=env, stdout=log, stderr=log)
        if not check(wait_for_name(env, THUMBNAILER_BUS, time.monotonic() + 30),
                     f"tumblerd did not take {THUMBNAILER_BUS}"):
            return
        # Tumbler sends its signals to the caller alone; a monitor sees them all.
        monitor = procs.start(["stdbuf", "-oL", "dbus-monitor", "--address",
                               env["DBUS_SESSION_BUS_ADDRESS"],
                               f"type='signal',interface='{THUMBNAILER_BUS}'"],
                              env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        lines = monitor_lines(monitor)
        time.sleep(0.5)  # until it listens
        for flavor in ("normal", "large"):
            uris = [p.absolute().as_uri() for p in saves]
            array = "[" + ", ".join(repr(u) for u in uris) + "]"
            types = "[" + ", ".join(repr(mime_of(p)) for p in saves) + "]"
            result = run(["gdbus", "call", "--session", "--dest", THUMBNAILER_BUS,
                          "--object-path", THUMBNAILER_PATH,
                          "--method", f"{THUMBNAILER_BUS}.Queue", array, types, flavor,
                          "default", "0"], env=env)
            if not check(result.returncode == 0, f"Queue: {result.stderr}"):
                return
            handle = result.stdout.strip().strip("(),").split()[-1]
            events = wait_for_finished(lines, handle, time.monotonic() + 90)
            ready = {u for kind, value in events if kind == "Ready" for u in value}
            errors = [value for kind, value in events if kind == "Error"]
            check(any(kind == "Finished" for kind, _ in events),
                  f"{flavor}: no Finished signal for handle {handle}")
            check(not errors, f"{flavor}: tumbler reported errors: {errors}")
            for save, uri in zip(saves, uris):
                check(uri in ready, f"{flavor}: {save.name} not reported ready")
                name = hashlib.md5(uri.encode()).hexdigest() + ".png"
                check_picture(cache / "thumbnails" / flavor / name, FLAVOR_SIZES[flavor],
                              f"tumbler {flavor} thumbnail of {save.name}")
    finally:
        procs.end_all()
        if failures:
            log.seek(0)
            print("--- tumblerd log ---", file=sys.stderr)
            print(log.read()[-6000:], file=sys.stderr)
        log.close()


def monitor_lines(monitor):
    """The monitor's lines as they come, through a thread (select() cannot see what the
    file object has buffered already)."""
    lines = queue.Queue()

    def pump():
        for line in monitor.stdout:
            lines.put(line)
        lines.put(None)

    threading.Thread(target=pump, daemon=True).start()
    return lines


def wait_for_finished(lines, handle, deadline):
    """Signals for `handle` seen by dbus-monitor, up to Finished: (member, strings in it)."""
    events, member, args = [], None, []

    def end_message():
        # A message is done: keep it when it is one of ours for this handle.
        if member and args and args[0] == f"uint32 {handle}":
            events.append((member, [a[len('string "'):-1] for a in args if a.startswith('string "')]))

    while True:
        try:
            line = lines.get(timeout=max(0.01, deadline - time.monotonic()))
        except queue.Empty:
            line = None
        if line is None or time.monotonic() > deadline:
            end_message()
            return events
        # "signal time=... interface=...; member=Ready", then one argument a line, indented.
        if line.startswith(" "):
            args.append(line.strip())
            if member == "Finished":
                end_message()
                if events and events[-1][0] == "Finished":
                    return events
                member = None
            continue
        end_message()
        member, args = None, []
        if line.startswith("signal ") and f"interface={THUMBNAILER_BUS};" in line:
            member = line.rsplit("member=", 1)[-1].strip()


# --- bubblewrap ------------------------------------------------------------------------------

def test_bwrap(build, source, work):
    bwrap = shutil.which("bwrap")
    if not bwrap:
        skip("bwrap is not installed (package bubblewrap)")
    if run([bwrap, "--unshare-all", "--ro-bind", "/usr", "/usr", "--symlink", "usr/lib", "/lib",
            "--symlink", "usr/lib64", "/lib64", "--symlink", "usr/bin", "/bin",
            "true"]).returncode != 0:
        skip("bubblewrap cannot make a sandbox here")
    prefix = install(build, work)
    if not prefix:
        return
    entry = thumbnailer_of(prefix)
    for save in archives(prefix, source, work):
        for size in (128, 256):
            out = work / "out" / f"{save.stem}-{size}.png"
            out.parent.mkdir(exist_ok=True)
            out.write_bytes(b"")  # made empty beforehand, as GNOME does
            argv = thumbnailer_argv(entry["Exec"], save, out, size)
            program = shutil.which(argv[0], path=str(prefix / "bin"))
            if not check(program, f"{argv[0]} is not in {prefix / 'bin'}"):
                return
            argv[0] = program
            sandbox = [bwrap, "--unshare-all", "--die-with-parent", "--clearenv",
                       "--setenv", "PATH", "/usr/bin:/bin",
                       "--ro-bind", "/usr", "/usr",
                       "--symlink", "usr/lib", "/lib", "--symlink", "usr/lib64", "/lib64",
                       "--symlink", "usr/bin", "/bin",
                       "--proc", "/proc", "--dev", "/dev", "--tmpfs", "/tmp",
                       "--ro-bind", str(prefix), str(prefix),
                       "--ro-bind", str(save), str(save),
                       "--bind", str(out), str(out),
                       "--chdir", "/", "--"]
            result = run(sandbox + argv)
            what = f"sandboxed thumbnail of {save.name} at {size}"
            check(result.returncode == 0, f"{what}: exit {result.returncode}: {result.stderr}")
            check_picture(out, size, what)


# --- GIO's choice of program -----------------------------------------------------------------

# Marrowin Cards is built (CMake says so); without it nothing of ours opens a card or a .max.
CARDS = os.environ.get("MARROWIN_CARDS") == "1"

# Real files under names a user has for them: the desktop entry GIO starts for each, and the
# entries it offers under "open with" (None: not ours to open without the card window).
OPENED_BY = [
    ("demo.psu", "samples/demo.psu", "marrowin.desktop", {"marrowin.desktop", "marrowin-cards.desktop"}),
    ("SAVE.PSU", "samples/demo.psu", "marrowin.desktop", {"marrowin.desktop", "marrowin-cards.desktop"}),
    ("Mcd001.ps2", "tests/data/formats/mc02.ps2", "marrowin-cards.desktop", {"marrowin-cards.desktop"}),
    # Told by its first bytes: ".bin" is too common a name to claim.
    ("card dump.bin", "tests/data/formats/mc02.ps2", "marrowin-cards.desktop", {"marrowin-cards.desktop"}),
    ("final-fantasy12.max", "tests/data/formats/final-fantasy12.max", "marrowin-cards.desktop",
     {"marrowin-cards.desktop"}),
    ("drift.CBS", "tests/data/formats/tokyo-xtreme-racer-drift-2.14091.cbs", "marrowin-cards.desktop",
     {"marrowin-cards.desktop"}),
    ("max-payne.sps", "tests/data/formats/max-payne.1394.sps", "marrowin-cards.desktop",
     {"marrowin-cards.desktop"}),
    ("BESLES-50325.PSV", "tests/data/formats/BESLES-50325.PSV", "marrowin-cards.desktop",
     {"marrowin-cards.desktop"}),
]


def gio_default(gio, mtype, env):
    """(default desktop id or None, registered ids) as `gio mime TYPE` prints them."""
    result = run([gio, "mime", mtype], env=env)
    default, registered, section = None, set(), None
    for line in result.stdout.splitlines():
        if line.startswith("Default application for"):
            default = line.rsplit(":", 1)[1].strip()
        elif not line.startswith("\t"):
            section = line
        elif section and section.startswith("Registered applications"):
            registered.add(line.strip())
    return default, registered


def test_gio(build, source, work):
    gio, validator, indexer, mime = (shutil.which(t) for t in (
        "gio", "desktop-file-validate", "update-desktop-database", "update-mime-database"))
    if not gio:
        skip("gio is not installed (package libglib2.0-bin)")
    if not validator or not indexer:
        skip("desktop-file-validate is not installed (package desktop-file-utils)")
    prefix = install(build, work)
    if not prefix:
        return
    applications = prefix / "share/applications"
    entries = sorted(applications.glob("marrowin*.desktop"))
    check({e.name for e in entries} == {"marrowin.desktop"} | ({"marrowin-cards.desktop"} if CARDS else set()),
          f"desktop entries installed: {[e.name for e in entries]}")
    for entry in entries:
        result = run([validator, str(entry)])
        check(result.returncode == 0 and not result.stdout.strip(),
              f"desktop-file-validate {entry.name}: {result.stdout}{result.stderr}")
    if not os.environ.get("MARROWIN_INSTALLED_PREFIX"):
        # What the Debian package's trigger does for /usr/share/applications; GIO reads the
        # types from this index.
        result = run([indexer, str(applications)])
        check(result.returncode == 0, f"update-desktop-database: {result.stderr}")
    if mime and not os.environ.get("MARROWIN_INSTALLED_PREFIX"):
        run([mime, str(prefix / "share/mime")])

    home = work / "home"
    home.mkdir()
    # Nobody's own choices (mimeapps.list) in the way: only what the package installs decides.
    env = {"PATH": f"{prefix / 'bin'}:/usr/bin:/bin", "HOME": str(home), "LANG": "C.UTF-8",
           "XDG_DATA_HOME": str(home / "data"), "XDG_CONFIG_HOME": str(home / "config"),
           "XDG_CONFIG_DIRS": str(home / "no-config"), "XDG_DATA_DIRS": f"{prefix / 'share'}:/usr/share"}
    files = work / "files"
    files.mkdir()
    for name, sample, want_default, want_offered in OPENED_BY:
        path = files / name
        shutil.copyfile(source / sample, path)
        info = run([gio, "info", "-a", "standard::content-type", str(path)], env=env).stdout
        mtype = info.rsplit("standard::content-type:", 1)[-1].strip()
        if not check(mtype.startswith("application/x-ps2-"), f"{name} is seen as {mtype!r}"):
            continue
        default, registered = gio_default(gio, mtype, env)
        ours = {d for d in registered if d.startswith("marrowin")}
        if not CARDS:
            want_offered = want_offered - {"marrowin-cards.desktop"}
            want_default = want_default if want_default in want_offered else None
        check(default == want_default, f"{name} ({mtype}) opens with {default}, not {want_default}")
        check(ours == want_offered, f"{name} ({mtype}) is offered to {sorted(ours)}, not {sorted(want_offered)}")


if __name__ == "__main__":
    mode, build, source = sys.argv[1], Path(sys.argv[2]).resolve(), Path(sys.argv[3]).resolve()
    tests = {"tumbler": test_tumbler, "bwrap": test_bwrap, "gio": test_gio}
    if mode not in tests:
        sys.exit(f"unknown mode {mode}")
    with tempfile.TemporaryDirectory(prefix="marrowin-desktop-") as tmp:
        tests[mode](build, source, Path(tmp))
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")
    print("ok")
