#!/usr/bin/env python3
"""What a user gets from installing Marrowin: the tree under a prefix, and the Debian package.

  test_install.py prefix BUILD_DIR SOURCE_DIR
  test_install.py deb    BUILD_DIR SOURCE_DIR VERSION

Both run the installed thumbnailer the way a file manager does: the Exec line of the
.thumbnailer file, split like a desktop-entry Exec line, field codes replaced, with the
installed bin directory first on PATH.
"""

import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse
import xml.etree.ElementTree as ET
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
from file_manager_support import (icon_picture_problems, png_header, read_entry,  # noqa: E402
                                  thumbnailer_argv)

MIME_NS = "{http://www.freedesktop.org/standards/shared-mime-info}"
THUMB_SIZE = 128

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)
    return cond


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=60, **kw)


def mime_types(xml_path):
    root = ET.parse(xml_path).getroot()
    return {t.get("type"): t for t in root.findall(MIME_NS + "mime-type")}


def check_thumbnail(path, what):
    for problem in icon_picture_problems(path, THUMB_SIZE, rgba=True):
        check(False, f"{what}: {problem}")


# --- the file manager's side -----------------------------------------------------------------

def run_thumbnailer(thumbnailer, bindir, infile, outfile):
    entry = read_entry(thumbnailer, "Thumbnailer Entry")
    env = dict(os.environ, PATH=f"{bindir}:{os.environ.get('PATH', '/usr/bin:/bin')}")
    # A file manager skips the thumbnailer when TryExec is not found on PATH.
    check(shutil.which(entry.get("TryExec", ""), path=env["PATH"]) == str(bindir / entry.get("TryExec", "")),
          f"TryExec {entry.get('TryExec')!r} does not resolve to the installed program")
    argv = thumbnailer_argv(entry["Exec"], infile, outfile, THUMB_SIZE)
    # Resolve the program as a file manager does (the installed one first), then run it
    # from an unrelated directory.
    argv[0] = shutil.which(argv[0], path=env["PATH"]) or argv[0]
    return run(argv, env=env, cwd=tempfile.gettempdir())


# Every type the package declares: its globs (matched in any letter case), the first bytes
# that tell it by content (None: ".psu" archives have none) and the type it is a kind of.
SAVE = "application/x-ps2-save"
EXPECTED_TYPES = {
    "application/x-ps2-save-archive": (["*.psu"], None, SAVE),
    "application/x-ps2-max-save": (["*.max"], "Ps2PowerSave", SAVE),
    "application/x-ps2-cbs-save": (["*.cbs"], "CFU\\0", SAVE),
    "application/x-ps2-sharkport-save": (["*.sps", "*.xps"], "\\x0d\\0\\0\\0SharkPortSave", SAVE),
    "application/x-ps2-psv-save": (["*.psv"], "\\0VSP", SAVE),
    "application/x-ps2-memory-card": (["*.ps2", "*.mc2"], "Sony PS2 Memory Card Format ", None),
    # Any save, whatever holds it: no file is of this type alone, so it has no globs or magic.
    SAVE: ([], None, None),
}
# The types files are told apart by, which the thumbnailer draws.
FILE_TYPES = {t for t, (globs, _, _) in EXPECTED_TYPES.items() if globs}
SAVE_CONTAINERS = FILE_TYPES - {"application/x-ps2-save-archive", "application/x-ps2-memory-card"}

# Marrowin Cards is built (CMake says so); its files are then expected too.
CARDS = os.environ.get("MARROWIN_CARDS") == "1"

# Each desktop entry: the types it opens and the icon sizes installed for it. The viewer shows
# one .psu at a time, so it claims only that type; the card window takes cards and every other
# container, and any save through the parent type, which offers it for .psu without taking
# the double-click from the viewer.
DESKTOP_ENTRIES = {"marrowin": ({"application/x-ps2-save-archive"}, (32, 48, 64, 128, 256))}
if CARDS:
    DESKTOP_ENTRIES["marrowin-cards"] = (SAVE_CONTAINERS | {"application/x-ps2-memory-card", SAVE},
                                         (48, 64, 128, 256))
# A real file of each type that has magic, as tests/data holds it.
SAMPLES = {"application/x-ps2-max-save": "formats/final-fantasy12.max",
           "application/x-ps2-cbs-save": "formats/tokyo-xtreme-racer-drift-2.14091.cbs",
           "application/x-ps2-sharkport-save": "formats/max-payne.1394.sps",
           "application/x-ps2-psv-save": "formats/BESLES-50325.PSV",
           "application/x-ps2-memory-card": "formats/mc02.ps2"}


def check_file_manager_view(share, bindir, archive, work):
    """Types, thumbnailer and desktop entry agree, and the thumbnailer draws the archive."""
    types = mime_types(share / "mime/packages/marrowin.xml")
    check(set(types) == set(EXPECTED_TYPES), f"MIME package declares {sorted(types)}")
    for mtype, (want_globs, want_magic, want_parent) in EXPECTED_TYPES.items():
        node = types.get(mtype)
        if node is None:
            continue
        parents = [p.get("type") for p in node.findall(MIME_NS + "sub-class-of")]
        check(parents == ([want_parent] if want_parent else []), f"{mtype}: a kind of {parents}")
        globs = [g.get("pattern") for g in node.findall(MIME_NS + "glob")]
        check(globs == want_globs, f"{mtype}: globs are {globs}")
        check(all(g.get("case-sensitive") in (None, "false") for g in node.findall(MIME_NS + "glob")),
              f"{mtype}: a glob is case-sensitive")
        matches = [m.get("value") for m in node.iter(MIME_NS + "match")]
        check(matches == ([want_magic] if want_magic else []), f"{mtype}: magic {matches}")

    thumbnailer = share / "thumbnailers/marrowin.thumbnailer"
    entry = read_entry(thumbnailer, "Thumbnailer Entry")
    listed = set(entry.get("MimeType", "").split(";")) - {""}
    check(listed == FILE_TYPES, f"thumbnailer MimeType {entry.get('MimeType')!r}")

    validator = shutil.which("desktop-file-validate")
    installed = {p.stem for p in (share / "applications").glob("marrowin*.desktop")}
    check(installed == set(DESKTOP_ENTRIES), f"desktop entries installed: {sorted(installed)}")
    for name, (want_types, sizes) in DESKTOP_ENTRIES.items():
        path = share / f"applications/{name}.desktop"
        desktop = read_entry(path, "Desktop Entry")
        listed = set(desktop.get("MimeType", "").split(";")) - {""}
        check(listed == want_types, f"{name}.desktop MimeType {desktop.get('MimeType')!r}")
        check(desktop.get("Exec", "").split()[:1] == [name], f"{name}.desktop runs {desktop.get('Exec')!r}")
        check(desktop.get("Icon") == name, f"{name}.desktop shows icon {desktop.get('Icon')!r}")
        for n in sizes:
            check((share / f"icons/hicolor/{n}x{n}/apps/{desktop.get('Icon')}.png").is_file(),
                  f"{name}.desktop icon {desktop.get('Icon')!r} is not installed at {n}x{n}")
        if validator:
            result = run([validator, str(path)])
            check(result.returncode == 0 and not result.stdout.strip(),
                  f"desktop-file-validate {path.name}: {result.stdout}{result.stderr}")

    out = work / "thumb out" / "a.png"
    out.parent.mkdir()
    result = run_thumbnailer(thumbnailer, bindir, archive, out)
    check(result.returncode == 0, f"thumbnailer exit {result.returncode}: {result.stderr}")
    check_thumbnail(out, "thumbnail")

    # A file named like a save that is not one: the file manager must see a failure and no
    # picture, or it would cache a broken thumbnail.
    fake = work / "not a save.psu"
    fake.write_bytes(b"\0" * 4096)
    bad_out = work / "thumb out" / "bad.png"
    result = run_thumbnailer(thumbnailer, bindir, fake, bad_out)
    check(result.returncode != 0, "thumbnailer succeeded on a file that is no save archive")
    check(not bad_out.exists(), "thumbnailer left a picture for a file that is no save archive")


def check_mime_database(mime_dir, work):
    tool = shutil.which("update-mime-database")
    if not tool:
        print("update-mime-database not found: MIME database not checked")
        return
    result = run([tool, str(mime_dir)])
    check(result.returncode == 0, f"update-mime-database: {result.stderr}")
    globs = (mime_dir / "globs2").read_text().splitlines()
    for mtype, (patterns, _, _) in EXPECTED_TYPES.items():
        for pattern in patterns:
            matches = [line for line in globs if line.split(":")[1:3] == [mtype, pattern]]
            check(len(matches) == 1, f"globs2 does not map {pattern} to {mtype}")
            # No case-sensitive flag: "SAVE.PSU" from a memory-card tool matches too.
            check(all(":cs" not in line for line in matches), f"{pattern} is case-sensitive: {matches}")
    # Content decides for a file whose name says nothing, as GIO (and so a file manager) sees it.
    gio = shutil.which("gio")
    if not gio:
        print("gio not found: recognition by content not checked")
        return
    env = dict(os.environ, XDG_DATA_DIRS=f"{mime_dir.parent}:/usr/share",
               XDG_DATA_HOME=str(work / "no-data-home"))
    for mtype, sample in SAMPLES.items():
        unnamed = work / "unnamed" / mtype.rsplit("/", 1)[1]
        unnamed.parent.mkdir(exist_ok=True)
        shutil.copyfile(SOURCE / "tests/data" / sample, unnamed)
        result = run([gio, "info", "-a", "standard::content-type", str(unnamed)], env=env)
        check(f"standard::content-type: {mtype}" in result.stdout,
              f"{sample} without its name is seen as {result.stdout.strip()!r}, not {mtype}")


def pack_real_save(cli, work):
    """An archive of a real icon, packed by the installed marrowin-cli."""
    data = SOURCE / "tests/data"
    folder = work / "My Saves" / "OPL"
    folder.mkdir(parents=True)
    shutil.copyfile(data / "opl.icn", folder / "opl.icn")
    shutil.copyfile(data / "opl-icon.sys", folder / "icon.sys")
    result = run([str(cli), "pack", "-C", str(folder.parent), str(folder)])
    check(result.returncode == 0, f"pack: {result.stderr}")
    return folder.parent / "OPL.psu"


# --- documents, icons and the shell completion ----------------------------------------------

def check_gzip_reproducible(path):
    """Debian wants gzip -9n: no file name and no time stamp in the header."""
    head = path.read_bytes()[:10]
    check(head[:3] == b"\x1f\x8b\x08", f"{path.name} is not gzip")
    check(head[3] & 0x08 == 0, f"{path.name} stores a file name (not gzip -n)")
    check(head[4:8] == b"\0\0\0\0", f"{path.name} stores a time stamp (not gzip -n)")
    check(head[8] == 2, f"{path.name} is not compressed with -9")


def dep5_paragraphs(text):
    paragraphs, fields, key = [], {}, None
    for line in text.split("\n") + [""]:
        if not line.strip():
            if fields:
                paragraphs.append(fields)
            fields, key = {}, None
        elif line[0] in " \t":
            check(key is not None, f"copyright: continuation line without a field: {line!r}")
            fields[key] += "\n" + line.strip()
        else:
            key, _, value = line.partition(":")
            check(key not in fields, f"copyright: field {key} twice in one paragraph")
            fields[key] = value.strip()
    return paragraphs


def check_copyright(path):
    """A machine-readable copyright file that accounts for the test data's own licences."""
    paragraphs = dep5_paragraphs(path.read_text(encoding="utf-8"))
    header, rest = paragraphs[0], paragraphs[1:]
    check(header.get("Format", "").startswith(
        "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0"),
        f"copyright: Format is {header.get('Format')!r}")
    files = [p for p in rest if "Files" in p]
    standalone = {p["License"].split("\n")[0] for p in rest if "Files" not in p and "License" in p}
    check(files and files[0]["Files"] == "*", "copyright: first Files paragraph is not Files: *")
    licence_of = {}
    for p in files:
        check("Copyright" in p and "License" in p, f"copyright: Files {p['Files']!r} lacks fields")
        name, _, text = p.get("License", "").partition("\n")
        # A licence named without its text needs a stand-alone License paragraph.
        check(text.strip() or name in standalone, f"copyright: no text for licence {name!r}")
        for pattern in p["Files"].split():
            licence_of[pattern] = name
    check(licence_of.get("*") == "Expat", "copyright: the project is not under Expat (MIT)")
    # Every file listed in tests/data/SOURCES.md, with the licence given there.
    names = {"MIT": "Expat"}
    for line in (SOURCE / "tests/data/SOURCES.md").read_text(encoding="utf-8").splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) >= 4 and cells[0].endswith((".icn", ".sys")):
            want = names.get(cells[3], cells[3])
            got = licence_of.get(f"tests/data/{cells[0]}")
            check(got == want, f"copyright: tests/data/{cells[0]} listed as {got!r}, SOURCES.md says {want!r}")


def check_man_page(path):
    check_gzip_reproducible(path)
    man = shutil.which("man")
    if not man:
        print("man not found: manual pages not formatted")
        return
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
    result = run([man, "--warnings", "-E", "UTF-8", "-l", str(path)], env=env)
    check(result.returncode == 0 and not result.stderr.strip(), f"man {path.name}: {result.stderr}")
    check("NAME" in result.stdout and "SYNOPSIS" in result.stdout, f"man {path.name}: no page")
    return result.stdout


def check_documents(prefix):
    share = prefix / "share"
    check_copyright(share / "doc/marrowin/copyright")
    changelog = share / "doc/marrowin/changelog.gz"
    check_gzip_reproducible(changelog)
    top = gzip.decompress(changelog.read_bytes()).decode("utf-8").split("\n")[0]
    version = run([str(prefix / "bin/marrowin-cli"), "--version"]).stdout.split()[-1]
    check(top.startswith(f"marrowin ({version})"), f"changelog starts {top!r}, program is {version}")
    gui = check_man_page(share / "man/man1/marrowin.1.gz") or ""
    check("GDK_BACKEND" in gui and "開く" in gui, "marrowin(1) misses the environment or the menus")
    cli = check_man_page(share / "man/man1/marrowin-cli.1.gz") or ""
    # Every command the program knows is in its page.
    for command in cli_commands(prefix / "bin/marrowin-cli"):
        check(f"{command} " in cli, f"marrowin-cli(1) does not describe {command}")

    if CARDS:
        cards = check_man_page(share / "man/man1/marrowin-cards.1.gz") or ""
        check("marrowin-cli card" in cards and "marrowin(1)" in cards,
              "marrowin-cards(1) misses the card protocol or its see-also")
        # The Japanese menus come from the catalog the program finds beside its prefix.
        mo = share / "locale/ja/LC_MESSAGES/marrowin-cards.mo"
        check(mo.is_file() and mo.read_bytes()[:4] in (b"\xde\x12\x04\x95", b"\x95\x04\x12\xde"),
              f"{mo} is not a gettext catalog")

    pictures = {}
    for name, (_, sizes) in DESKTOP_ENTRIES.items():
        for n in sizes:
            png = share / f"icons/hicolor/{n}x{n}/apps/{name}.png"
            width, height, _, ctype = png_header(png)
            check((width, height, ctype) == (n, n, 6),
                  f"{name} {n}x{n} icon is {width}x{height}, colour type {ctype}")
            pictures.setdefault(n, []).append(png.read_bytes())
        svg = ET.parse(share / f"icons/hicolor/scalable/apps/{name}.svg").getroot()
        check(svg.tag == "{http://www.w3.org/2000/svg}svg", f"{name} scalable icon root is {svg.tag}")
    # Two programs side by side in a dock are told apart by their icons.
    for n, same_size in pictures.items():
        check(len(set(same_size)) == len(same_size), f"two programs share one {n}x{n} icon")


def cli_commands(cli):
    commands = []
    for line in run([str(cli), "--help"]).stdout.split("Commands:")[-1].split("\n")[1:]:
        if not line.startswith("  "):
            break
        commands.append(line.split()[0])
    return commands


COMPLETE = r"""
[ "$1" = yes ] && . /usr/share/bash-completion/bash_completion
. "$2"
PROG=$3
cd "$4"
c() {
    COMP_WORDS=("$PROG" "$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}; COMPREPLY=()
    _marrowin_cli
    echo "${COMPREPLY[*]}"
}
c ""
c info --
c extract -
c pack --f
c render --icon ""
c info ""
c pack ""
c convert --to ""
c card ""
c card import --
"""


def check_completion(script, cli, work):
    bash = shutil.which("bash")
    if not check(bash is not None, "bash not found"):
        return
    folder = work / "complete"
    (folder / "saves").mkdir(parents=True)
    (folder / "a.psu").touch()
    (folder / "B.PSU").touch()
    (folder / "notes.txt").touch()
    for name in ("c.max", "D.Psv", "e.xps", "card.ps2"):
        (folder / name).touch()
    framework = Path("/usr/share/bash-completion/bash_completion")
    for loaded in (["yes"] if framework.is_file() else []) + ["no"]:
        result = run([bash, "-c", COMPLETE, "complete", loaded, str(script), str(cli), str(folder)])
        lines = result.stdout.split("\n")
        what = f"completion (bash-completion loaded: {loaded})"
        if not check(result.returncode == 0 and len(lines) >= 10, f"{what}: {result.stdout}{result.stderr}"):
            continue
        commands = lines[0].split()
        check(set(cli_commands(cli)) <= set(commands) and "info" in commands,
              f"{what}: commands offered: {commands}")
        offered = set(lines[1].split())
        check({"--help", "--json"} <= offered and all(w.startswith("--") for w in offered),
              f"{what}: info -- offers {lines[1]!r}")
        # Options come from the command's own help, so extract offers its -C and -k.
        check({"-C", "-k", "--keep", "-q"} <= set(lines[2].split()), f"{what}: extract - offers {lines[2]!r}")
        check(lines[3].split() == ["--follow-links"], f"{what}: pack --f offers {lines[3]!r}")
        check(lines[4].split() == ["normal", "copy", "delete"], f"{what}: --icon offers {lines[4]!r}")
        check(sorted(lines[5].split()) == ["B.PSU", "D.Psv", "a.psu", "c.max", "card.ps2", "e.xps", "saves"],
              f"{what}: info offers {lines[5]!r}")
        check(lines[6].split() == ["saves"], f"{what}: pack offers {lines[6]!r}")
        check(lines[7].split() == ["psu", "max", "cbs", "sps", "xps", "psv"], f"{what}: --to offers {lines[7]!r}")
        check(lines[8].split() == ["ls", "export", "import", "delete", "format", "check"],
              f"{what}: card offers {lines[8]!r}")
        check({"--replace", "--no-backup", "--force", "--help"} <= set(lines[9].split()),
              f"{what}: card import -- offers {lines[9]!r}")


def check_file_commands_without_gl(cli, work):
    """The installed marrowin-cli finds its picture program yet loads no GL for file work."""
    env = dict(os.environ, LD_DEBUG="libs")
    result = subprocess.run([str(cli), "info", str(SOURCE / "samples/demo.psu")], env=env,
                            capture_output=True, text=True, timeout=60, cwd=work)
    check(result.returncode == 0, f"installed info exited {result.returncode}")
    loaded = [line for line in result.stderr.split("\n") if "calling init:" in line]
    check(loaded, "LD_DEBUG=libs showed no library for info")
    gl = [line for line in loaded if re.search(r"/lib(EGL|GL|OpenGL|GLU|GLX|GLdispatch|png16?)\.so", line)]
    check(not gl, f"installed info loads {gl}")
    out = work / "installed-thumbnail.png"
    result = run([str(cli), "thumbnail", "-s", "64", str(SOURCE / "samples/demo.psu"), str(out)], cwd=work)
    check(result.returncode == 0 and out.is_file(), f"installed thumbnail: {result.stderr}")


# --- the two tests ---------------------------------------------------------------------------

PROGRAMS = ["bin/marrowin", "bin/marrowin-cli", "libexec/marrowin/marrowin-cli-gl"]
if CARDS:
    PROGRAMS.append("bin/marrowin-cards")
INSTALLED = PROGRAMS + ["share/applications/marrowin.desktop",
             "share/mime/packages/marrowin.xml", "share/thumbnailers/marrowin.thumbnailer",
             "share/icons/hicolor/scalable/apps/marrowin.svg",
             "share/man/man1/marrowin.1.gz", "share/man/man1/marrowin-cli.1.gz",
             "share/doc/marrowin/copyright", "share/doc/marrowin/changelog.gz",
             "share/bash-completion/completions/marrowin-cli"]
INSTALLED += [f"share/icons/hicolor/{n}x{n}/apps/{name}.png"
              for name, (_, sizes) in DESKTOP_ENTRIES.items() for n in sizes]
INSTALLED += [f"share/icons/hicolor/scalable/apps/{name}.svg" for name in DESKTOP_ENTRIES]
INSTALLED += [f"share/applications/{name}.desktop" for name in DESKTOP_ENTRIES]
if CARDS:
    INSTALLED += ["share/man/man1/marrowin-cards.1.gz", "share/locale/ja/LC_MESSAGES/marrowin-cards.mo"]


def test_prefix(build, work):
    prefix = work / "prefix"
    result = run(["cmake", "--install", str(build), "--prefix", str(prefix)])
    if not check(result.returncode == 0, f"cmake --install: {result.stdout}{result.stderr}"):
        return
    for rel in INSTALLED:
        check((prefix / rel).is_file(), f"{rel} not installed")
    for rel in PROGRAMS:
        check(os.access(prefix / rel, os.X_OK), f"{rel} is not executable")
    check_file_commands_without_gl(prefix / "bin/marrowin-cli", work)
    check_documents(prefix)
    check_completion(prefix / "share/bash-completion/completions/marrowin-cli",
                     prefix / "bin/marrowin-cli", work)
    archive = pack_real_save(prefix / "bin/marrowin-cli", work)
    check_file_manager_view(prefix / "share", prefix / "bin", archive, work)
    check_mime_database(prefix / "share/mime", work)


def test_deb(build, work, version):
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    result = subprocess.run(["cpack", "--config", str(build / "CPackConfig.cmake"), "-G", "DEB",
                             "-B", str(work / "pkg")], capture_output=True, text=True, timeout=480)
    deb = work / "pkg" / f"marrowin_{version}_{arch}.deb"
    if not check(result.returncode == 0 and deb.is_file(),
                 f"cpack made no {deb.name}: {result.stdout}{result.stderr}"):
        return

    fields = {}
    for name in ("Package", "Version", "Architecture", "Depends", "Recommends", "Section"):
        fields[name] = run(["dpkg-deb", "-f", str(deb), name]).stdout.strip()
    check(fields["Package"] == "marrowin" and fields["Version"] == version
          and fields["Architecture"] == arch, f"control fields: {fields}")
    check("shared-mime-info" in fields["Recommends"], f"Recommends: {fields['Recommends']}")
    depends = [alt.split()[0] for dep in fields["Depends"].split(",") for alt in dep.split("|")]
    # The libraries the programs link, as the distribution packages them.
    for lib in ("libc6", "libstdc++6", "libegl1", "libpng16-16", "libglu1-mesa"):
        check(lib in depends, f"Depends misses {lib}: {fields['Depends']}")
    # The font the menus and the configuration window are laid out for.
    check("fonts-ipafont-gothic" in depends, f"Depends misses the font: {fields['Depends']}")
    check(any(d.startswith("libwxgtk") for d in depends), f"Depends misses wx: {fields['Depends']}")
    check(not any(d.startswith(("libkf5", "libqt5")) for d in depends),
          f"the main package pulls in KDE or Qt: {fields['Depends']}")
    # Each one is a package of this system: the build linked against it.
    for dep in depends:
        check(run(["dpkg-query", "-W", dep]).returncode == 0, f"Depends names {dep}, no package here")

    listing = run(["dpkg-deb", "-c", str(deb)]).stdout.split("\n")
    paths = {line.split()[-1].lstrip(".") for line in listing if line.strip()}
    for rel in INSTALLED:
        check(f"/usr/{rel}" in paths, f"/usr/{rel} missing from the package")
    check(all(p == "/" or p.startswith("/usr/") for p in paths),
          f"package puts files outside /usr: {sorted(p for p in paths if not p.startswith('/usr/'))}")

    root = work / "root"
    check(run(["dpkg-deb", "-x", str(deb), str(root)]).returncode == 0, "dpkg-deb -x failed")
    if shutil.which("file"):
        for rel in PROGRAMS:
            kind = run(["file", "-b", str(root / "usr" / rel)]).stdout
            check(", stripped" in kind, f"{rel} is not stripped: {kind}")
    usr = root / "usr"
    for rel in PROGRAMS:
        check_hardened(usr / rel)
    check_file_commands_without_gl(usr / "bin/marrowin-cli", work)
    check_documents(usr)
    check_completion(usr / "share/bash-completion/completions/marrowin-cli", usr / "bin/marrowin-cli", work)
    check_file_manager_view(usr / "share", usr / "bin", SOURCE / "samples/demo.psu", work)
    check_mime_database(usr / "share/mime", work)
    check_lintian(deb)
    # The Dolphin plugin, built when KF5 KIO is there, comes in a package of its own.
    dolphin = deb.with_name(f"marrowin-dolphin_{version}_{arch}.deb")
    if dolphin.is_file():
        check_dolphin_deb(dolphin, version)


def check_dolphin_deb(deb, version):
    depends = run(["dpkg-deb", "-f", str(deb), "Depends"]).stdout.strip()
    names = [alt.split()[0] for dep in depends.split(",") for alt in dep.split("|")]
    check(f"marrowin (= {version})" in depends, f"marrowin-dolphin Depends misses marrowin: {depends}")
    check(any(n.startswith("libkf5kiogui") for n in names), f"marrowin-dolphin Depends misses KIO: {depends}")
    paths = {line.split()[-1].lstrip(".") for line in run(["dpkg-deb", "-c", str(deb)]).stdout.split("\n")
             if line.strip()}
    for rel in ("lib/x86_64-linux-gnu/qt5/plugins/kf5/thumbcreator/marrowinthumbnail.so",
                "share/doc/marrowin-dolphin/copyright", "share/doc/marrowin-dolphin/changelog.gz"):
        check(f"/usr/{rel}" in paths, f"/usr/{rel} missing from marrowin-dolphin")
    check(not any("/bin/" in p for p in paths), "marrowin-dolphin carries programs of the main package")
    check_lintian(deb)


def check_hardened(program):
    """PIE, RELRO bound at start, fortified libc calls, and no sections dh_strip would remove."""
    readelf = shutil.which("readelf")
    if not readelf:
        print("readelf not found: hardening not checked")
        return
    name = program.name
    out = run([readelf, "-W", "-h", "-l", "-d", "-S", "--dyn-syms", str(program)]).stdout
    check("DYN (" in out, f"{name} is not position-independent")
    check("GNU_RELRO" in out, f"{name} has no RELRO segment")
    check("BIND_NOW" in out or "FLAGS_1" in out and " NOW" in out, f"{name} is not bound at start (-z now)")
    check("_chk@" in out, f"{name} calls no fortified libc function")
    check("__stack_chk_fail" in out, f"{name} has no stack protector")
    sections = [line.split("]")[1].split()[0] for line in out.split("\n")
                if line.strip().startswith("[") and "]" in line and line.split("]")[1].split()]
    for unneeded in (".comment", ".note"):
        check(unneeded not in sections, f"{name} keeps its {unneeded} section")


def check_lintian(deb):
    """Lintian passes the package: no errors, no warnings; informational tags are listed."""
    lintian = shutil.which("lintian")
    if not lintian:
        print("lintian not found: package not linted")
        return
    # CI runs as root; lintian only warns about that on stderr, which is not a tag.
    result = subprocess.run([lintian, "--fail-on", "error,warning", "--display-info", "--pedantic",
                             "--tag-display-limit", "0", str(deb)],
                            capture_output=True, text=True, timeout=600)
    tags = [line for line in result.stdout.split("\n") if line[:2] in ("E:", "W:", "I:", "P:", "X:")]
    print("lintian:", *(tags or ["no tags"]), sep="\n  ")
    check(result.returncode == 0, f"lintian failed ({result.returncode}): {result.stdout}{result.stderr}")
    check(not any(t.startswith(("E:", "W:")) for t in tags), f"lintian errors or warnings: {tags}")


if __name__ == "__main__":
    mode, build, SOURCE = sys.argv[1], Path(sys.argv[2]).resolve(), Path(sys.argv[3]).resolve()
    with tempfile.TemporaryDirectory(prefix="marrowin-install-") as tmp:
        if mode == "prefix":
            test_prefix(build, Path(tmp))
        elif mode == "deb":
            test_deb(build, Path(tmp), sys.argv[4])
        else:
            sys.exit(f"unknown mode {mode}")
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")
    print("ok")
