#!/usr/bin/python3
"""GUI tests of marrowin-cards: each case runs the real program on a real card image under its
own Xvfb. The rows, the free-space line and exported files are read back from the lines the
program prints with MARROWIN_CARDS_TEST_DUMP set; pixels from the screen. Drops are real XDND
drops (harness.drop), dialogs are driven by keys.
Usage: test_cards_gui.py CASE (see CASES at the end)."""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import BACKGROUND, Session, close, wait_for  # noqa: E402

TEST_DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
FORMATS = os.path.join(TEST_DATA, "formats")
CLI = os.environ.get("MARROWIN_CLI", "marrowin-cli")

# Real saves on the card from the start, and one more to import.
ON_CARD = ["final-fantasy12.max", "BESLES-50325.PSV"]
TO_IMPORT = "tokyo-xtreme-racer-drift-2.14091.cbs"
TO_IMPORT_TOO = "max-payne.1394.sps"


def cli(*args, check=True):
    return subprocess.run([CLI, *args], check=check, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True)


def make_card(s, saves=ON_CARD):
    card = os.path.join(s.workdir, "card.ps2")
    cli("card", "format", card)
    if saves:
        cli("card", "import", card, *[os.path.join(FORMATS, name) for name in saves])
    return card


def assert_clean(card):
    result = cli("card", "check", card, check=False)
    assert result.returncode == 0, f"card check failed:\n{result.stdout}"


def folders_on(card):
    listing = cli("card", "ls", card).stdout
    return listing


class Cards:
    """The program's printed state: its rows and its status line, as last printed."""

    def __init__(self, s):
        self.s = s

    def lines(self):
        with open(os.path.join(self.s.workdir, "marrowin.log"), encoding="utf-8", errors="replace") as f:
            return f.read().splitlines()

    def rows(self):
        """The last printed list: [(title, folder, clusters, errors)]."""
        lines = self.lines()
        starts = [i for i, line in enumerate(lines) if line.startswith("rows: ")]
        if not starts:
            return None
        start = starts[-1]
        count = int(lines[start][6:])
        rows = [line[5:].split(" | ") for line in lines[start + 1:] if line.startswith("row: ")][:count]
        return rows if len(rows) == count else None

    def status(self):
        found = [line[8:] for line in self.lines() if line.startswith("status: ")]
        return found[-1] if found else None

    def wait_rows(self, count, what="rows"):
        found = []

        def have():
            rows = self.rows()
            if rows is not None and len(rows) == count:
                found.append(rows)
                return True
            return False
        wait_for(have, 15, what=f"{count} {what}, have {self.rows()}")
        return found[-1]


def start(s, args):
    s.log = open(os.path.join(s.workdir, "marrowin.log"), "w")
    s.app = subprocess.Popen([s.binary, *args], cwd=s.cwd, env=s.env, stdout=s.log,
                             stderr=subprocess.STDOUT)
    s.main = wait_for(lambda: s.find_window("Marrowin Cards", exact=False) or
                      next((w for w in s.toplevels() if (s.window_name(w) or "").startswith("Marrowin Cards")
                            and w.get_geometry().width > 20), None), 15, what="card window")
    time.sleep(0.5)
    return Cards(s)


def session(**env):
    return Session(binary=os.environ["MARROWIN_CARDS_BIN"],
                   env=dict({"MARROWIN_CARDS_TEST_DUMP": "1"}, **env))


def select_all(s):
    s.menu("e", 1)  # Edit > Select All


def canvas_rect(s):
    """The live view: the box of background-coloured pixels in the window's right part."""
    x, y, w, h = s.geometry(s.main)
    strip = (x + w - 300, y + 40, 300, h - 80)
    px = s.pixels(strip)
    hits = [(c, r) for r, row in enumerate(px) for c, p in enumerate(row) if close(p, BACKGROUND)]
    assert hits, "no live view in the window's right part"
    cs = [c for c, _ in hits]
    rs = [r for _, r in hits]
    return (strip[0] + min(cs), strip[1] + min(rs), max(cs) - min(cs) + 1, max(rs) - min(rs) + 1)


def dialog_path(s, path):
    """Types a path into the GTK file chooser that has just opened, and accepts it."""
    wait_for(lambda: next(iter(s.dialogs()), None), 10, what="file dialog")
    time.sleep(1)
    s.clipboard_set(path)
    s.key("ctrl+l", "ctrl+a", "ctrl+v", delay=0.4)
    s.key("Return", delay=0.8)


def quit_ok(s):
    s.menu("f", 6)  # File > Quit
    assert s.wait_exit(10) == 0


def titles(rows):
    return sorted(r[0] for r in rows)


def case_open_card():
    with session() as s:
        card = make_card(s)
        cards = start(s, [card])
        rows = cards.wait_rows(2)
        assert all(r[0] for r in rows), f"a row without its title: {rows}"
        assert all(r[3] == "0" for r in rows), f"problems on a clean card: {rows}"
        s.wait_caption("Marrowin Cards - card.ps2")
        assert "clusters free" in (cards.status() or "")
        # Nothing selected: the view is empty.
        view = canvas_rect(s)
        assert s.non_background(view) < 20, "the view draws without a selection"
        select_all(s)
        wait_for(lambda: "needs" in (cards.status() or ""), 5, what="the selection's needs")
        time.sleep(0.5)
        view = canvas_rect(s)
        assert s.non_background(view) > 100, "no icon in the live view"
        assert_clean(card)
        quit_ok(s)


def case_import_drop():
    with session() as s:
        card = make_card(s)
        cards = start(s, [card])
        cards.wait_rows(2)
        before = cards.status()
        s.drop([os.path.join(FORMATS, TO_IMPORT)])
        rows = cards.wait_rows(3, "rows after the drop")
        assert cards.status() != before, "free space did not change"
        assert len(folders_on(card).strip().splitlines()) >= 3
        assert_clean(card)
        # Another program changes the card: the window reads it again on its own.
        cli("card", "delete", card, rows[0][1])
        after = cards.wait_rows(2, "rows after the CLI's delete")
        assert rows[0][1] not in [r[1] for r in after]
        quit_ok(s)


def case_import_dialog():
    with session() as s:
        card = make_card(s)
        cards = start(s, [card])
        cards.wait_rows(2)
        before = cards.status()
        s.menu("f", 2)  # File > Import...
        dialog_path(s, os.path.join(FORMATS, TO_IMPORT_TOO))
        cards.wait_rows(3, "rows after the import")
        assert cards.status() != before, "free space did not change"
        assert_clean(card)
        # The same save again asks before replacing it: No keeps the card as it is.
        stamp = os.stat(card).st_mtime_ns
        s.menu("f", 2)
        dialog_path(s, os.path.join(FORMATS, TO_IMPORT_TOO))
        question = wait_for(lambda: next(iter(s.dialogs()), None), 10, what="the replace question")
        s.key("Escape")
        wait_for(lambda: not s.is_mapped(question), 5, what="question gone")
        time.sleep(0.5)
        assert os.stat(card).st_mtime_ns == stamp, "the card changed though the user said no"
        assert_clean(card)
        quit_ok(s)


def case_delete():
    with session() as s:
        card = make_card(s)
        cards = start(s, [card])
        cards.wait_rows(2)
        before = cards.status()
        select_all(s)
        s.menu("e", 0)  # Edit > Delete
        confirm = wait_for(lambda: next(iter(s.dialogs()), None), 10, what="the confirmation")
        # No is the default: Return keeps the saves.
        s.key("Return")
        wait_for(lambda: not s.is_mapped(confirm), 5, what="confirmation gone")
        time.sleep(0.5)
        assert len(cards.rows()) == 2
        s.menu("e", 0)
        confirm = wait_for(lambda: next(iter(s.dialogs()), None), 10, what="the confirmation")
        time.sleep(0.5)
        s.key("alt+y")
        cards.wait_rows(0, "rows after the delete")
        assert cards.status() != before
        assert_clean(card)
        quit_ok(s)


def case_export_max():
    with session() as s:
        card = make_card(s)
        out = os.path.join(s.workdir, "out")
        os.mkdir(out)
        cards = start(s, [card])
        cards.wait_rows(2)
        select_all(s)
        s.menu("f", 3)  # File > Export...
        wait_for(lambda: next(iter(s.dialogs()), None), 10, what="the container choice")
        time.sleep(0.5)
        s.key("Down", "Return")  # .max
        dialog_path(s, out)
        wait_for(lambda: len(os.listdir(out)) == 2, 10, what=f"two files in {out}: {os.listdir(out)}")
        names = sorted(os.listdir(out))
        assert all(n.endswith(".max") for n in names), names
        for name in names:
            info = cli("info", os.path.join(out, name), check=False)
            assert info.returncode == 0, info.stdout
        assert_clean(card)
        quit_ok(s)


def case_japanese():
    with session(LANGUAGE="ja", LANG="C.UTF-8") as s:
        card = make_card(s, saves=[])
        cards = start(s, [card])
        cards.wait_rows(0)
        wait_for(lambda: any(line.startswith("menu: ファイル") for line in cards.lines()), 5,
                 what="the Japanese File menu")
        quit_ok(s)


def case_screenshot():
    """Not a test: the README's picture (run by hand with an output path)."""
    target = os.environ["MARROWIN_CARDS_SHOT"]
    with session() as s:
        card = make_card(s, saves=ON_CARD + [TO_IMPORT, TO_IMPORT_TOO])
        start(s, [card])
        Cards(s).wait_rows(4)
        x, y, w, h = s.geometry(s.main)
        s.xdotool("mousemove", x + 200, y + 100)
        s.xdotool("click", 1)
        time.sleep(1.5)
        full = os.path.join(s.workdir, "full.png")
        s.screenshot(full)
        subprocess.run(["convert", full, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-colors", "128",
                        target], check=True)


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}

if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in CASES:
        print("usage: test_cards_gui.py " + "|".join(CASES))
        sys.exit(2)
    CASES[sys.argv[1]]()
