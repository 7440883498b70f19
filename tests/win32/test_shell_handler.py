#!/usr/bin/python3
"""marrowin-shell.dll under Wine, loaded as Explorer loads it: registered by its own
DllRegisterServer, created by CLSID, initialised on a file stream. Its thumbnails equal
`marrowin-cli.exe thumbnail -s 256` pixel for pixel (after the premultiplication a bitmap for
Explorer needs) for a .psu, .max, .cbs, .sps, .psv and a card image; hostile files give an
error HRESULT quickly; the property handler's title is info's; unregistering leaves no key.

Environment: MARROWIN_SHELL_DLL, MARROWIN_SHELL_PROBE, MARROWIN_CLI_EXE, MARROWIN_TEST_DATA,
MARROWIN_DEMO; WINEPREFIX and friends as ctest passes them.
Exit 77 (skipped) when Wine or Xvfb is missing."""
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_cli_thumbnail import read_png  # noqa: E402

SKIP = 77
EXTENSIONS = [".psu", ".max", ".cbs", ".sps", ".xps", ".psv", ".ps2", ".mc2"]
THUMBNAIL_CLSID = "{D45D5648-B3DB-44A1-B940-6CBA5DF671A0}"
PROPERTY_CLSID = "{BCC7219A-892C-4A83-8A05-88A17FE45DD5}"
SHELLEX = "{e357fccd-a995-4576-b01f-234630154e96}"
WTSAT_ARGB = 2
STG_E_ACCESSDENIED = "0x80030005"


class Wine:
    def __init__(self, env, work):
        self.env, self.work, self.wine = env, work, shutil.which("wine")

    def run(self, *args, check=True):
        r = subprocess.run([self.wine] + list(args), cwd=self.work, env=self.env,
                           capture_output=True, timeout=120)
        if check:
            assert r.returncode == 0, (args, r.returncode, r.stdout.decode(errors="replace"),
                                       r.stderr.decode(errors="replace"))
        return r

    def keys(self, probe):
        """Our registration's values in HKCU, as the probe reads them."""
        self.run(probe, "keys", "keys.txt")
        with open(os.path.join(self.work, "keys.txt"), encoding="utf-8") as f:
            return [line.split("=", 1) for line in f.read().splitlines()]


def premultiplied_bgra(rows):
    out = bytearray()
    for row in rows:
        for x in range(0, len(row), 4):
            r, g, b, a = row[x:x + 4]
            out += bytes(((b * a + 127) // 255, (g * a + 127) // 255, (r * a + 127) // 255, a))
    return bytes(out)


def main():
    dll, probe = os.environ["MARROWIN_SHELL_DLL"], os.environ["MARROWIN_SHELL_PROBE"]
    cli, data = os.environ["MARROWIN_CLI_EXE"], os.environ["MARROWIN_TEST_DATA"]
    if not shutil.which("wine"):
        print("wine missing")
        return SKIP
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    xvfb = None
    if not env.get("DISPLAY"):
        if not shutil.which("Xvfb"):
            print("Xvfb missing")
            return SKIP
        number = next(n for n in range(140, 400) if not os.path.exists("/tmp/.X11-unix/X%d" % n))
        xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "320x240x24"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        env["DISPLAY"] = ":%d" % number
        for _ in range(50):
            if os.path.exists("/tmp/.X11-unix/X%d" % number):
                break
            time.sleep(0.1)
    try:
        with tempfile.TemporaryDirectory() as work:
            check(Wine(env, work), work, dll, probe, cli, data)
    finally:
        if xvfb:
            xvfb.terminate()
            xvfb.wait()
    print("ok")
    return 0


def check(wine, work, dll, probe, cli, data):
    formats = os.path.join(data, "formats")
    saves = {
        "demo.psu": os.environ["MARROWIN_DEMO"],
        "ff12.max": os.path.join(formats, "final-fantasy12.max"),
        "txr.cbs": os.path.join(formats, "tokyo-xtreme-racer-drift-2.14091.cbs"),
        "payne.sps": os.path.join(formats, "max-payne.1394.sps"),
        "besles.psv": os.path.join(formats, "BESLES-50325.PSV"),
    }
    for name, source in saves.items():
        shutil.copy(source, os.path.join(work, name))
    # A card holding the demo save behind a save without an icon, made by the CLI itself.
    wine.run(cli, "card", "format", "card.ps2")
    wine.run(cli, "card", "import", "--no-backup", "card.ps2", "txr.cbs", "demo.psu")
    names = list(saves) + ["card.ps2"]

    wine.run(probe, "register", dll)
    keys = wine.keys(probe)
    for key, value in keys:
        if "\\ShellEx\\" in key:
            assert key.endswith(SHELLEX) and value == THUMBNAIL_CLSID, (key, value)
        elif "PropertyHandlers" in key:
            assert value == PROPERTY_CLSID, (key, value)
        elif key.endswith("InprocServer32"):
            assert value.lower().endswith("\\marrowin-shell.dll") or value == "Apartment", (key, value)
    assert sum(1 for key, _ in keys if "\\ShellEx\\" in key) == len(EXTENSIONS)
    assert sum(1 for key, v in keys if "PropertyHandlers" in key and v == PROPERTY_CLSID) == len(EXTENSIONS)
    # Windows reads classes from HKCU\Software\Classes too; Wine's COM only from HKLM.
    wine.run(probe, "machine-classes", "add")

    # The same picture as the CLI's, pixel for pixel.
    for name in names:
        wine.run(cli, "thumbnail", "-s", "256", name, name + ".png", check=False)
        width, height, rows = read_png(os.path.join(work, name + ".png"))
        assert (width, height) == (256, 256)
        wine.run(probe, "thumbnail", name, "256", name + ".bits")
        with open(os.path.join(work, name + ".bits"), "rb") as f:
            header = f.readline().split()
            bits = f.read()
        assert header == [b"256", b"256", str(WTSAT_ARGB).encode()], (name, header)
        want = premultiplied_bgra(rows)
        assert len(bits) == len(want), name
        differing = sum(1 for i in range(0, len(want), 4) if bits[i:i + 4] != want[i:i + 4])
        assert differing == 0, "%s: %d pixels differ from the CLI's thumbnail" % (name, differing)
        assert any(bits[i + 3] for i in range(0, len(bits), 4)), name + ": blank"

    # Hostile and useless files: an error HRESULT, and quickly.
    rng = random.Random(21)
    card = open(os.path.join(work, "card.ps2"), "rb").read()
    hostile = {
        "random.psu": bytes(rng.getrandbits(8) for _ in range(200000)),
        "truncated.ps2": card[:len(card) // 3],
        "head.mc2": card[:340],
        "empty.max": b"",
        "blank.ps2": open(os.path.join(formats, "mc02.ps2"), "rb").read(),
    }
    for name, content in hostile.items():
        with open(os.path.join(work, name), "wb") as f:
            f.write(content)
    # Larger than any save: refused before it is read (a sparse file costs no disk).
    with open(os.path.join(work, "huge.psu"), "wb") as f:
        f.truncate(129 << 20)
    for name in list(hostile) + ["huge.psu"]:
        for kind in ("thumbnail", "properties"):
            args = [name, "256", "out.bits"] if kind == "thumbnail" else [name, "out.txt"]
            r = wine.run(probe, kind, *args, check=False)
            out = r.stdout.decode(errors="replace")
            assert r.returncode == 3, (name, kind, r.returncode, out)
            m = re.search(r"hr 0x([0-9a-f]{8}) after (\d+) ms", out)
            assert m and int(m.group(1), 16) & 0x80000000, (name, kind, out)
            assert int(m.group(2)) < 1000, (name, kind, out)

    # The property handler: info's title and folder, the container, and nothing written.
    for name in names:
        wine.run(probe, "properties", name, "props.txt")
        lines = open(os.path.join(work, "props.txt"), encoding="utf-8").read().split("\n")
        # info takes a card as the save standing for it, as the handlers do.
        info = json.loads(wine.run(cli, "info", "--json", name).stdout.decode("utf-8"))[0]
        assert info["title"], name
        assert lines[0] == info["title"], (name, lines[0], info["title"])
        assert lines[1] == info["folder"], (name, lines[1], info["folder"])
        if name == "card.ps2":
            assert lines[2] == "PS2 memory card image", lines[2]
        else:
            assert "(" + os.path.splitext(name)[1] in lines[2], (name, lines[2])
        assert lines[3] == "set " + STG_E_ACCESSDENIED, (name, lines[3])

    wine.run(probe, "machine-classes", "remove")
    wine.run(probe, "unregister", dll)
    left = [(key, value) for key, value in wine.keys(probe) if value != "<missing>"]
    assert not left, left


if __name__ == "__main__":
    sys.exit(main())
