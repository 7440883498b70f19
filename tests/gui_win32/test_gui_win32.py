#!/usr/bin/env python3
"""Drives the Windows marrowin.exe under Wine and Xvfb as a person would: its caption, files
dropped on it, the Edit menu's check marks as options, File > Open through the common dialog,
the icon drawn in its GL view, the mouse, the "Configure GL" window's Get and Set, a command
line that opens nothing, and the exit code after the close box and after File > Exit.

Wine runs in a fresh prefix of its own under a temporary folder, with the dialog fonts linked
to the IPA Gothic font so the Japanese menu labels are drawn."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "gui"))
from harness import BACKGROUND, Session, close, wait_for  # noqa: E402

SKIP = 77
DEMO_CAPTION = "BADATA-MARROWIN ＭＡＲＲＯＷＩＮデモ　セーブ - Marrowin"
DEMO_COPY = "BADATA-MARROWIN ＭＡＲＲＯＷＩＮデモ　セーブ.psu"
# Dialog fonts Wine draws menus and dialogs with; each gets the Japanese font as a fallback.
LINKED_FONTS = ["Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Segoe UI", "MS Sans Serif"]
FONT_LINK = "ipag.ttf,IPAGothic"
# The configuration window's font, where the IPA proportional Gothic stands in.
DIALOG_FONT = "ＭＳ Ｐゴシック"
# The configuration window's client area and a few controls, in dialog units.
SUB1_SIZE = (272, 390)
FIELD_SIZE = (52, 14)
FIELD_AT = {100: (60, 4), 110: (60, 24), 111: (112, 24), 112: (164, 24), 121: (112, 44)}
BUTTON_AT = {"Get": (4, 370, 60, 14), "Set": (208, 370, 60, 14)}


def reg_multi_sz(value):
    data = (value + "\0\0").encode("utf-16-le")
    return "hex(7):" + ",".join(f"{b:02x}" for b in data)


def registry_file(path):
    lines = ["Windows Registry Editor Version 5.00", "",
             r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]"]
    lines += [f'"{name}"={reg_multi_sz(FONT_LINK)}' for name in LINKED_FONTS]
    lines += ["", r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]",
              f'"{DIALOG_FONT}"="IPAPGothic"', ""]
    # regedit reads UTF-16 files with their byte order mark.
    with open(path, "w", encoding="utf-16") as f:
        f.write("\r\n".join(lines))


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineSession(Session):
    """One Xvfb, one fresh Wine prefix, one marrowin.exe."""

    def __enter__(self):
        super().__enter__()
        self.prefix = os.path.join(self.workdir, "prefix")
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64")
        subprocess.run(["wineboot", "-i"], env=self.env, check=True, timeout=180,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        reg = os.path.join(self.workdir, "fonts.reg")
        registry_file(reg)
        subprocess.run(["wine", "regedit", "/S", windows_path(reg)], env=self.env, check=True,
                       timeout=60, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)
        return self

    def start(self, args=(), caption="Marrowin"):
        self.log = open(os.path.join(self.workdir, "marrowin.log"), "w")
        self.app = subprocess.Popen(["wine", self.binary, *args], cwd=self.cwd, env=self.env,
                                    stdout=self.log, stderr=subprocess.STDOUT)
        self.main = wait_for(lambda: self.find_mapped(caption), 30, what="main window")
        time.sleep(1.0)
        return self.main

    def __exit__(self, *exc):
        if self.app and self.app.poll() is None:
            self.app.kill()
            self.app.wait()
        if getattr(self, "prefix", None):
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return super().__exit__(*exc)

    def find_mapped(self, name):
        for w in self.toplevels():
            if self.window_name(w) == name and self.is_mapped(w) and w.get_geometry().width > 20:
                return w
        return None

    def focus(self, w):
        self.xdotool("windowfocus", "--sync", w.id)
        time.sleep(0.3)

    def gl_window(self):
        """The X window Wine gives the GL drawing: the largest descendant of the main window."""
        best, area = None, 0
        stack = list(self.main.query_tree().children)
        while stack:
            w = stack.pop()
            stack.extend(w.query_tree().children)
            g = w.get_geometry()
            if g.width * g.height > area and self.is_mapped(w):
                best, area = w, g.width * g.height
        return best

    def view_rect(self):
        return self.geometry(self.gl_window() or self.main)

    def grab_view(self, name):
        """The GL view's own pixels: under Wine a root screenshot shows the GL area black."""
        w = self.gl_window()
        path = os.path.join(self.workdir, name + ".ppm")
        subprocess.run(["import", "-window", str(w.id), "-depth", "8", path], env=self.env,
                       check=True, timeout=30)
        with open(path, "rb") as f:
            data = f.read()
        # P6, width, height, maxval, then one whitespace byte before the pixels.
        fields, at = [], 0
        while len(fields) < 4:
            while data[at:at + 1].isspace():
                at += 1
            start = at
            while not data[at:at + 1].isspace():
                at += 1
            fields.append(data[start:at])
        width, height, pixels = int(fields[1]), int(fields[2]), data[at + 1:]
        return [[tuple(pixels[(r * width + c) * 3:(r * width + c) * 3 + 3]) for c in range(width)]
                for r in range(height)]

    def count_view(self, name, predicate):
        return sum(1 for row in self.grab_view(name) for p in row if predicate(p))

    def click_dialog_unit(self, dialog, x, y):
        # Without a window manager the X window is the client area alone (Wine draws no
        # caption), and dialog units are wider than they are tall.
        dx, dy, dw, dh = self.geometry(dialog)
        self.xdotool("mousemove", dx + round(x * dw / SUB1_SIZE[0]), dy + round(y * dh / SUB1_SIZE[1]))
        time.sleep(0.15)
        self.xdotool("click", 1)
        time.sleep(0.3)

    def clipboard_get(self):
        return subprocess.run(["xclip", "-selection", "clipboard", "-o"], env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=5).stdout.decode()

    def field_text(self, dialog, field):
        """The field's text, copied out of it through the clipboard (emptied first, so an old
        text is never taken for the field's)."""
        self.clipboard_set("")
        x, y = FIELD_AT[field]
        self.click_dialog_unit(dialog, x + FIELD_SIZE[0] // 2, y + FIELD_SIZE[1] // 2)
        self.key("Home", "shift+End", "ctrl+c", delay=0.15)
        return wait_for(lambda: self.clipboard_get().strip() or None, 5, what="field text")

    def set_field(self, dialog, field, text):
        x, y = FIELD_AT[field]
        self.click_dialog_unit(dialog, x + FIELD_SIZE[0] // 2, y + FIELD_SIZE[1] // 2)
        self.key("Home", "shift+End", "BackSpace", delay=0.1)
        self.xdotool("type", "--delay", "40", text)
        time.sleep(0.2)

    def press(self, dialog, button):
        x, y, w, h = BUTTON_AT[button]
        self.click_dialog_unit(dialog, x + w // 2, y + h // 2)


def near(colour, tolerance=40):
    return lambda p: close(p, colour, tolerance)


def not_near(colour, tolerance=40):
    return lambda p: not close(p, colour, tolerance)


def run(binary, demo):
    with WineSession(binary=binary) as s:
        shutil.copy(demo, os.path.join(s.cwd, "demo.psu"))
        not_a_save = os.path.join(s.cwd, "notes.txt")
        with open(not_a_save, "w") as f:
            f.write("not a save archive\n")

        s.start()
        assert s.caption() == "Marrowin", s.caption()
        # Frames are drawn without a save: the view is the background colour alone.
        wait_for(lambda: s.count_view("empty", not_near(BACKGROUND, 12)) == 0, 10,
                 what="an empty view of the background colour")

        # A drop: Wine turns XDND into WM_DROPFILES.
        s.drop([os.path.join(s.cwd, "demo.psu")])
        s.wait_caption(DEMO_CAPTION, 15)
        drawn = wait_for(lambda: s.count_view("icon", not_near(BACKGROUND, 24)) > 200 or None, 10,
                         what="the icon in the view")
        assert drawn

        # Edit > コピー is a check mark: on, a drop also writes a copy named after the save;
        # chosen again, it is off and the next drop writes nothing.
        demo_bytes = open(demo, "rb").read()
        s.focus(s.main)
        s.key("alt+e", "c", delay=0.6)
        s.drop([os.path.join(s.cwd, "demo.psu")])
        copies = wait_for(lambda: [n for n in os.listdir(s.cwd)
                                   if n.endswith(".psu") and n != "demo.psu"] or None, 15,
                          what="the copy written with the option on")
        assert copies == [DEMO_COPY], copies
        assert open(os.path.join(s.cwd, DEMO_COPY), "rb").read() == demo_bytes
        s.focus(s.main)
        s.key("alt+e", "c", delay=0.6)
        s.drop([os.path.join(s.cwd, "demo.psu")])
        s.wait_caption(DEMO_CAPTION, 15)
        time.sleep(1.0)
        assert sorted(os.listdir(s.cwd)) == sorted(["demo.psu", "notes.txt", DEMO_COPY]), os.listdir(s.cwd)

        # Something that is not a save empties the view and gives the caption back.
        s.drop([not_a_save])
        s.wait_caption("Marrowin", 15)
        wait_for(lambda: s.count_view("emptied", not_near(BACKGROUND, 12)) == 0, 10,
                 what="the view emptied")

        # File > Open through the common dialog, by keys.
        s.focus(s.main)
        s.key("alt+f", "o", delay=0.6)
        dialog = wait_for(lambda: next((w for w in s.toplevels() if w.id != s.main.id
                                        and s.is_mapped(w) and w.get_geometry().width > 200), None),
                          15, what="the open dialog")
        s.focus(dialog)
        s.xdotool("type", "--delay", "30", windows_path(os.path.join(s.cwd, "demo.psu")))
        time.sleep(0.3)
        s.key("Return")
        s.wait_caption(DEMO_CAPTION, 15)
        wait_for(lambda: s.count_view("opened", not_near(BACKGROUND, 24)) > 200 or None, 10,
                 what="the icon after File > Open")

        # The mouse with its key state: a left drag turns the view about Y, moving with Shift
        # held widens the field of view. Both show in the configuration window after "Get".
        x, y, w, h = s.view_rect()
        cx, cy = x + w // 2, y + h // 2
        s.xdotool("mousemove", cx - 40, cy)
        s.xdotool("mousedown", 1)
        for step in range(1, 9):
            s.xdotool("mousemove", cx - 40 + step * 10, cy)
            time.sleep(0.05)
        s.xdotool("mouseup", 1)
        s.xdotool("keydown", "shift")
        for step in range(0, 9):
            s.xdotool("mousemove", cx, cy - 40 + step * 10)
            time.sleep(0.05)
        s.xdotool("keyup", "shift")
        time.sleep(0.3)

        # View > 環境 (the last item, no access key) shows "Configure GL".
        s.focus(s.main)
        s.key("alt+v", delay=0.6)
        s.key(*["Down"] * 5, delay=0.15)
        s.key("Return", delay=0.6)
        config = wait_for(lambda: s.find_mapped("Configure GL"), 15, what="Configure GL")
        s.focus(config)
        # Shown, it still holds the values of start-up; "Get" brings the mouse's changes in.
        assert s.field_text(config, 121) == "0.000000"
        s.press(config, "Get")
        assert float(s.field_text(config, 121)) > 5, "the left drag did not turn the view"
        assert float(s.field_text(config, 100)) > 50, "Shift and move did not widen the view"
        # Set: a red background from the next frames on.
        for field, text in ((110, "1"), (111, "0"), (112, "0")):
            s.set_field(config, field, text)
        s.press(config, "Set")
        wait_for(lambda: s.count_view("red", near((255, 0, 0), 12)) > 1000 or None, 10,
                 what="the red background that Set stored")
        # Get: an edit that was not set is replaced by the stored value.
        s.set_field(config, 110, "0.5")
        s.press(config, "Get")
        assert s.field_text(config, 110) == "1.000000", "Get did not show the stored red"

        # The close box (WM_DELETE_WINDOW from outside): the process ends with 0.
        s.close_window(s.main)
        code = s.wait_exit(30)
        assert code == 0, f"exit code {code}"
        # A path on the command line (as a file type's open command gives it) opens the save
        # as a drop would. File > Exit ends it with 0 as the close box does.
        s.start([windows_path(os.path.join(s.cwd, "demo.psu"))], caption=DEMO_CAPTION)
        s.focus(s.main)
        s.key("alt+f", "x", delay=0.6)
        code = s.wait_exit(30)
        assert code == 0, f"exit code {code} after File > Exit"

        # Nothing else was written, and no temporary file is left behind.
        assert sorted(os.listdir(s.cwd)) == sorted(["demo.psu", "notes.txt", DEMO_COPY]), os.listdir(s.cwd)


def main():
    binary = os.environ.get("MARROWIN_EXE")
    demo = os.environ.get("MARROWIN_DEMO")
    for tool in ("wine", "wineboot", "wineserver", "Xvfb", "xdotool", "import", "xclip"):
        if not shutil.which(tool):
            print(f"skipped: {tool} is missing")
            return SKIP
    if not binary or not os.path.exists(binary) or not demo:
        print("skipped: MARROWIN_EXE or MARROWIN_DEMO not given")
        return SKIP
    run(binary, demo)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
