"""What file managers read, as the install and desktop tests read it: desktop and thumbnailer
entries, a thumbnailer's Exec line, and the PNG pictures it writes (enough of PNG for what the
thumbnail command writes, with no library)."""
import configparser
import shlex
import struct
import zlib
from pathlib import Path


def read_entry(path, group):
    """The keys of one group of a desktop entry file (a dict; empty when the group is missing)."""
    # Desktop files are not INI files (";" lists, "%" codes), so read them raw.
    parser = configparser.RawConfigParser(interpolation=None, strict=True)
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    return dict(parser[group]) if parser.has_section(group) else {}


def thumbnailer_argv(exec_line, infile, outfile, size):
    """Splits a desktop-entry Exec line and expands the thumbnailer field codes."""
    codes = {"%i": str(infile), "%o": str(outfile), "%s": str(size),
             "%u": Path(infile).absolute().as_uri(), "%%": "%"}
    argv = []
    for arg in shlex.split(exec_line):
        out, i = "", 0
        while i < len(arg):
            if arg[i] == "%" and arg[i:i + 2] in codes:
                out += codes[arg[i:i + 2]]
                i += 2
            else:
                out += arg[i]
                i += 1
        argv.append(out)
    return argv


def png_header(path):
    """(width, height, bit depth, colour type) from a PNG's IHDR."""
    data = Path(path).read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise ValueError(f"{path}: not a PNG")
    return struct.unpack(">IIBB", data[16:26])


def read_png(path):
    """(width, height, rows of RGBA bytes) of an 8-bit RGB or RGBA PNG; ValueError otherwise."""
    data = Path(path).read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG (no signature)")
    pos, idat, ihdr = 8, b"", None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        pos += 12 + length
    if not ihdr:
        raise ValueError("no IHDR")
    width, height, depth, ctype, _, _, interlace = ihdr
    if depth != 8 or interlace or ctype not in (2, 6):
        raise ValueError(f"colour type {ctype}, depth {depth}, interlace {interlace}")
    bpp = 4 if ctype == 6 else 3
    stride = width * bpp
    raw = zlib.decompress(idat)
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        prev = line
        if bpp == 3:
            line = bytearray(b"".join(bytes(line[i:i + 3]) + b"\xff" for i in range(0, stride, 3)))
        rows.append(bytes(line))
    return width, height, rows


def icon_picture_problems(path, side, rgba=False):
    """What keeps `path` from being a side x side picture of a drawn icon: many colours, a fair
    part not transparent (and an alpha channel when `rgba`). Empty when it is one."""
    path = Path(path)
    if not path.is_file() or path.stat().st_size == 0:
        return [f"no picture at {path}"]
    try:
        width, height, rows = read_png(path)
    except ValueError as e:
        return [str(e)]
    problems = []
    if (width, height) != (side, side):
        problems.append(f"{width}x{height}, not {side}x{side}")
    if rgba and png_header(path)[3] != 6:
        problems.append("not RGBA")
    drawn = sum(1 for row in rows for i in range(3, len(row), 4) if row[i] > 0)
    colours = {row[i:i + 4] for row in rows for i in range(0, len(row), 4) if row[i + 3] > 0}
    if drawn < width * height // 20:
        problems.append(f"only {drawn} pixels not transparent")
    if len(colours) < 16:
        problems.append(f"only {len(colours)} colours, not a drawn icon")
    return problems
