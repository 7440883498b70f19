#!/usr/bin/python3
"""marrowin-cli.exe and the names it is given under Wine: unquoted '*' and '?' expanded as
Windows programs do (no Windows shell does it), quoted ones kept; paths past 260 characters;
the manifest that lets real Windows take them, embedded in both programs.

Environment: MARROWIN_CLI_EXE, MARROWIN_WINDOW_EXE (may be empty), MARROWIN_DEMO; WINEPREFIX
and friends as ctest passes them. Exit 77 (skipped) when Wine is missing."""
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def run(wine, exe, args, cwd, env):
    done = subprocess.run([wine, exe] + args, cwd=cwd, env=env, capture_output=True, timeout=120)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def checked_names(out):
    """The names `check` reported on, in order."""
    return [line.split(": ")[0] for line in out.splitlines() if line.endswith(": ok")]


def main():
    exe, demo = os.environ["MARROWIN_CLI_EXE"], os.environ["MARROWIN_DEMO"]
    wine = shutil.which("wine")
    if not wine:
        print("wine missing")
        return SKIP
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    failures = []

    def expect(label, condition, detail=""):
        if not condition:
            failures.append("%s: %s" % (label, detail))

    with tempfile.TemporaryDirectory() as work:
        for name in ["a.psu", "b.psu", "セーブ.psu", "c.psux", os.path.join("sub", "d.psu")]:
            os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
            shutil.copy(demo, os.path.join(work, name))
        open(os.path.join(work, "notes.txt"), "w").write("not a save")

        # Wine quotes an argument only when it holds a blank: "x *.psu" reaches the program
        # quoted, the others bare.
        cases = [
            ("star", ["*.psu"], 0, ["a.psu", "b.psu", "セーブ.psu"]),
            ("question mark", ["?.psu"], 0, ["a.psu", "b.psu"]),
            ("upper case matches", ["A*.PSU"], 0, ["a.psu"]),
            ("in a folder", ["sub\\*.psu"], 0, ["sub\\d.psu"]),
            ("beside a plain name", ["a.psu", "b*"], 0, ["a.psu", "b.psu"]),
        ]
        for label, args, code, names in cases:
            got, out, err = run(wine, exe, ["check"] + args, work, env)
            expect(label, got == code, "exit %d: %s" % (got, err))
            expect(label, checked_names(out) == names, out + err)
        for label, args, says in [
            ("quoted stays as written", ["x *.psu"], "x *.psu: error: no such file"),
            ("no match stays as written", ["*.max"], "*.max: error: no such file"),
        ]:
            got, out, err = run(wine, exe, ["check"] + args, work, env)
            expect(label, got == 1 and says in out + err, "exit %d: %s%s" % (got, out, err))

        # A folder whose path is past 260 characters.
        deep = os.path.join(*(["d" * 60] * 5))
        os.makedirs(os.path.join(work, deep))
        shutil.copy(demo, os.path.join(work, deep, "demo.psu"))
        got, out, err = run(wine, exe, ["extract", "-C", deep, deep + "\\demo.psu"], work, env)
        expect("long path", got == 0, err)
        expect("long path", os.path.isfile(os.path.join(work, deep, "BADATA-MARROWIN", "icon.sys")), out + err)

    objdump = shutil.which("x86_64-w64-mingw32-objdump")
    for program in [exe, os.environ.get("MARROWIN_WINDOW_EXE", "")]:
        if not program:
            continue
        label = "manifest of " + os.path.basename(program)
        data = open(program, "rb").read()
        expect(label, b"<ws2:longPathAware>true</ws2:longPathAware>" in data and b"activeCodePage" not in data)
        if objdump:
            # Windows reads it only as resource type 24 (RT_MANIFEST), id 1.
            table = subprocess.run([objdump, "-p", program], capture_output=True, text=True).stdout
            table = table[table.find("Resource Directory section"):]
            # Each line starts with its offset in the table.
            lines = [l.strip().partition(" ")[2].strip() for l in table.splitlines()]
            found = any(a.startswith("Entry: ID: 0x000018") and b.startswith("Name Table") and
                        c.startswith("Entry: ID: 0x000001") for a, b, c in zip(lines, lines[1:], lines[2:]))
            expect(label, found, "no resource 24/1")

    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
