#!/usr/bin/python3
"""marrowin-cli.exe thumbnail under Wine: the demo save's icon as a whole 256x256 RGBA PNG
with smooth edges (and at 128x128 the Linux golden picture), drawn through a hidden window's
WGL context (Wine needs an X server for that: a private Xvfb is started when none is given),
and the archive itself refused as the output.

Environment: MARROWIN_CLI_EXE, MARROWIN_DEMO; WINEPREFIX and friends as ctest passes them.
Exit 77 (skipped) when Wine or Xvfb is missing."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

SKIP = 77
GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "golden",
                      "demo-thumbnail-128.png")


def read_png(path):
    """Width, height and RGBA rows of an 8-bit RGBA, non-interlaced PNG (libpng on Linux
    filters its rows)."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert zlib.crc32(kind + body) == crc, "bad CRC in " + kind.decode()
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert (depth, colour, interlace) == (8, 6, 0), header
    raw = zlib.decompress(idat)
    stride = width * 4 + 1
    assert len(raw) == stride * height
    rows, previous = [], bytearray(width * 4)
    for y in range(height):
        kind, row = raw[y * stride], bytearray(raw[y * stride + 1:(y + 1) * stride])
        for i in range(len(row)):
            left = row[i - 4] if i >= 4 else 0
            up, corner = previous[i], previous[i - 4] if i >= 4 else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                row[i] = (row[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
            else:
                assert kind == 0, "filter %d" % kind
        rows.append(bytes(row))
        previous = row
    return width, height, rows


def main():
    exe, demo = os.environ["MARROWIN_CLI_EXE"], os.environ["MARROWIN_DEMO"]
    wine = shutil.which("wine")
    if not wine:
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
            archive = os.path.join(work, "demo.psu")
            shutil.copy(demo, archive)
            run = subprocess.run([wine, exe, "thumbnail", "demo.psu", "demo.png"], cwd=work,
                                 env=env, capture_output=True, timeout=120)
            assert run.returncode == 0, run.stderr.decode(errors="replace")
            width, height, rows = read_png(os.path.join(work, "demo.png"))
            assert (width, height) == (256, 256), (width, height)
            alpha = [row[x + 3] for row in rows for x in range(0, len(row), 4)]
            covered = sum(1 for a in alpha if a > 0) / len(alpha)
            # The icon fills a good part of the square, and its corners stay transparent.
            assert 0.3 < covered < 0.95, covered
            assert rows[0][3] == 0 and rows[-1][-1] == 0
            # Drawn at several samples a pixel and filtered down: the edges blend.
            assert sum(1 for a in alpha if 0 < a < 255) > 100, "jagged edges"

            # The same pixels as on Linux: the golden thumbnail, within a rasteriser's margin.
            subprocess.run([wine, exe, "thumbnail", "-s", "128", "demo.psu", "small.png"],
                           cwd=work, env=env, check=True, capture_output=True, timeout=120)
            _, _, small = read_png(os.path.join(work, "small.png"))
            _, _, golden = read_png(GOLDEN)
            differences = [abs(a - b) for ours, theirs in zip(small, golden)
                           for a, b in zip(ours, theirs)]
            assert len(differences) == 128 * 128 * 4
            mean = sum(differences) / len(differences)
            assert mean < 0.5, "differs from the Linux thumbnail by %.2f a channel" % mean

            before = open(archive, "rb").read()
            refused = subprocess.run([wine, exe, "thumbnail", "demo.psu", "demo.psu"], cwd=work,
                                     env=env, capture_output=True, timeout=120)
            assert refused.returncode != 0, "wrote the picture over the archive"
            assert open(archive, "rb").read() == before
    finally:
        if xvfb:
            xvfb.terminate()
            xvfb.wait()
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
