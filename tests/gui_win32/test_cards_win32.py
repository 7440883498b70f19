#!/usr/bin/env python3
"""Drives the Windows marrowin-cards.exe under Wine and Xvfb as a person would, on a real card
made by marrowin-cli.exe: the list shows each save's title with its picture, a drop from the
file manager imports, File > Import through the common dialog imports, Delete asks and
deletes, Export writes .max files, the free space follows each change, the selected save's
icon turns in the GL view, the Japanese menu, and exit 0. After every change the CLI checks
the card clean.

The window writes what its list and status bar show to the file named by
MARROWIN_CARDS_TEST_DUMP on every change (reading a list view's items from another process
is not possible from X)."""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_gui_win32 import WineSession, windows_path, SKIP, not_near  # noqa: E402
from harness import wait_for  # noqa: E402

CAPTION = "card.ps2 - Marrowin Cards"


class CardsSession(WineSession):
    def start(self, args=(), env=None):
        self.log = open(os.path.join(self.workdir, "cards.log"), "w")
        run_env = dict(self.env, MARROWIN_CARDS_TEST_DUMP=windows_path(self.dump_path), **(env or {}))
        self.app = subprocess.Popen(["wine", self.binary, *args], cwd=self.cwd, env=run_env,
                                    stdout=self.log, stderr=subprocess.STDOUT)
        self.main = wait_for(lambda: self.find_prefix("Marrowin Cards"), 30, what="card window")
        time.sleep(1.0)
        return self.main

    def find_prefix(self, text):
        for w in self.toplevels():
            name = self.window_name(w) or ""
            if text in name and self.is_mapped(w) and w.get_geometry().width > 300:
                return w
        return None

    def cli(self, *args, check=True):
        done = subprocess.run(["wine", self.cli_exe, *args], cwd=self.cwd, env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        out = done.stdout.decode("utf-8", "replace")
        if check:
            assert done.returncode == 0, f"marrowin-cli {' '.join(args)}: {done.returncode}\n{out}"
        return out

    def check_card(self):
        self.cli("card", "check", windows_path(self.card))

    def dump(self):
        try:
            with open(self.dump_path, encoding="utf-8") as f:
                text = f.read()
        except OSError:
            return None
        if not text.endswith("end\n"):
            return None
        lines = [line.split("\t") for line in text.splitlines()]
        return {"rows": [line[1:] for line in lines if line[0] == "row"],
                "space": next((line[1] for line in lines if line[0] == "space"), None),
                "selected": next((int(line[1]) for line in lines if line[0] == "selected"), 0),
                "caption": next((line[1] for line in lines if line[0] == "caption"), None),
                "menus": [line[1] for line in lines if line[0] == "menu"]}

    def wait_rows(self, count, what):
        return wait_for(lambda: (lambda d: d if d and len(d["rows"]) == count else None)(self.dump()),
                        20, what=what)

    def dialog(self, exclude=()):
        return wait_for(lambda: next((w for w in self.toplevels() if w.id != self.main.id
                                      and w.id not in exclude and self.is_mapped(w)
                                      and w.get_geometry().width > 100), None), 15, what="a dialog")

    def gl_window(self):
        """The X window Wine gives the turning icon's GL drawing: a child window's GL drawable
        is an X window of its own, not always under the main window's: the largest mapped
        window smaller than the main window."""
        mx, my, mw, mh = self.geometry(self.main)
        best, area = None, 0
        stack = list(self.root.query_tree().children)
        while stack:
            w = stack.pop()
            stack.extend(w.query_tree().children)
            if w.id == self.main.id or not self.is_mapped(w):
                continue
            x, y, width, height = self.geometry(w)
            if width < mw and height < mh and width * height > area:
                best, area = w, width * height
        return best


def titles(d):
    return [row[0] for row in d["rows"]]


def run(binary, cli_exe, data, demo):
    with CardsSession(binary=binary) as s:
        try:
            steps(s, cli_exe, data, demo)
        except BaseException:
            # What the screen showed, for whoever reads the failure.
            shot = os.environ.get("MARROWIN_CARDS_FAILURE_SHOT")
            if shot:
                subprocess.run(["import", "-window", "root", shot], env=s.env, timeout=30)
            raise


def steps(s, cli_exe, data, demo):
    if True:
        s.cli_exe = cli_exe
        s.dump_path = os.path.join(s.workdir, "rows.txt")
        s.card = os.path.join(s.cwd, "card.ps2")
        saves = {"demo": os.path.join(s.cwd, "demo.psu")}
        shutil.copy(demo, saves["demo"])
        for name, file in (("max", "final-fantasy12.max"), ("cbs", "tokyo-xtreme-racer-drift-2.14091.cbs"),
                           ("sps", "max-payne.1394.sps")):
            saves[name] = os.path.join(s.cwd, file)
            shutil.copy(os.path.join(data, "formats", file), saves[name])
        s.cli("card", "format", windows_path(s.card))
        s.cli("card", "import", windows_path(s.card), windows_path(saves["demo"]), windows_path(saves["max"]))
        s.check_card()

        # Opened from the command line: each save's title, a picture for each.
        s.start([windows_path(s.card)])
        s.wait_caption(CAPTION, 20)
        first = s.wait_rows(2, "two rows")
        assert all(t for t in titles(first)), first
        assert any("ＭＡＲＲＯＷＩＮ" in t for t in titles(first)), titles(first)
        assert all(row[-1] == "picture" for row in first["rows"]), first["rows"]
        assert first["space"] and first["space"].endswith("clusters free"), first["space"]
        assert first["menus"] == ["&File", "&Edit"], first["menus"]

        # The first save selected: its icon turns in the GL view.
        s.focus(s.main)
        s.key("Home", delay=0.5)
        wait_for(lambda: (s.dump() or {}).get("selected") == 1 or None, 10, what="one selected")
        view = s.gl_window()
        assert view is not None, "no GL view"
        s.grab_view_of = view
        drawn = wait_for(lambda: count_pixels(s, view, "icon") > 200 or None, 10, what="the icon in the view")
        assert drawn

        # A drop from the file manager imports onto the card.
        s.drop([saves["cbs"]])
        after_drop = s.wait_rows(3, "three rows after the drop")
        assert after_drop["space"] != first["space"], "free space did not change"
        s.check_card()

        # File > Import through the common dialog.
        s.focus(s.main)
        s.key("ctrl+i", delay=1.0)
        dialog = s.dialog()
        s.focus(dialog)
        s.xdotool("type", "--delay", "30", windows_path(saves["sps"]))
        time.sleep(0.3)
        s.key("Return")
        after_import = s.wait_rows(4, "four rows after File > Import")
        s.check_card()

        # The same save again asks before replacing it; No keeps the card as it was.
        s.drop([saves["cbs"]])
        question = s.dialog()
        s.focus(question)
        s.key("n", delay=1.0)
        time.sleep(1.0)
        assert len(s.dump()["rows"]) == 4

        # Export every save as .max into a folder of its own.
        out = os.path.join(s.cwd, "out")
        os.mkdir(out)
        s.focus(s.main)
        s.key("ctrl+a", delay=0.6)
        wait_for(lambda: (s.dump() or {}).get("selected") == 4 or None, 10, what="four selected")
        s.key("ctrl+e", delay=1.0)
        dialog = s.dialog()
        s.focus(dialog)
        s.key("ctrl+a", "BackSpace", delay=0.1)
        s.xdotool("type", "--delay", "30", windows_path(out))
        s.key("Tab", "Tab", "Down", delay=0.2)
        s.key("Return", delay=1.0)
        # Each file is written under a temporary name and then given its own: done when four
        # .max files and nothing else are there.
        written = wait_for(lambda: (lambda n: n if len(n) == 4 and all(x.endswith(".max") for x in n) else None)(
            sorted(os.listdir(out))), 20, what="four exported .max files")
        for name in written:
            s.cli("check", windows_path(os.path.join(out, name)))

        # Delete the first save, confirmed by its question.
        s.focus(s.main)
        s.key("Home", delay=0.6)
        s.key("Delete", delay=1.0)
        question = s.dialog()
        s.focus(question)
        s.key("y", delay=1.0)
        after_delete = s.wait_rows(3, "three rows after the delete")
        assert after_delete["space"] != after_import["space"]
        s.check_card()

        # Another program changes the card: the window reads it again by itself.
        s.cli("card", "import", windows_path(s.card), windows_path(saves["demo"]), check=False)
        s.wait_rows(4, "the card's change on disk shown")

        # File > Exit: 0.
        s.focus(s.main)
        s.key("alt+f", delay=0.6)
        s.key("x", delay=0.6)
        code = s.wait_exit(30)
        assert code == 0, f"exit code {code}"
        s.check_card()

        # The Japanese menu for a Japanese user (Wine takes the user's language from LANG).
        s.env["LANG"] = "ja_JP.UTF-8"
        s.env["LC_ALL"] = "ja_JP.UTF-8"
        s.start([windows_path(s.card)])
        menus = wait_for(lambda: (s.dump() or {}).get("menus") or None, 20, what="the menu labels")
        assert menus == ["ファイル(&F)", "編集(&E)"], menus
        s.close_window(s.main)
        assert s.wait_exit(30) == 0
        s.check_card()


def count_pixels(s, view, name):
    path = os.path.join(s.workdir, name + ".ppm")
    subprocess.run(["import", "-window", str(view.id), "-depth", "8", path], env=s.env, check=True, timeout=30)
    subprocess.run(["convert", path, os.path.join(s.workdir, name + ".png")], env=s.env, timeout=30)
    with open(path, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    pixels = data[at + 1:]
    # The view's background: its first pixel.
    back = tuple(pixels[0:3])
    differ = not_near(back, 24)
    return sum(1 for i in range(0, len(pixels) - 2, 3) if differ(tuple(pixels[i:i + 3])))


def main():
    binary = os.environ.get("MARROWIN_CARDS_EXE")
    cli_exe = os.environ.get("MARROWIN_CLI_EXE")
    data = os.environ.get("MARROWIN_TEST_DATA")
    demo = os.environ.get("MARROWIN_DEMO")
    for tool in ("wine", "wineboot", "wineserver", "Xvfb", "xdotool", "import"):
        if not shutil.which(tool):
            print(f"skipped: {tool} is missing")
            return SKIP
    if not all((binary, cli_exe, data, demo)) or not os.path.exists(binary):
        print("skipped: MARROWIN_CARDS_EXE, MARROWIN_CLI_EXE, MARROWIN_TEST_DATA or MARROWIN_DEMO not given")
        return SKIP
    run(binary, cli_exe, data, demo)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
