#!/usr/bin/python3
"""GUI tests of marrowin: each case runs the real program under its own Xvfb.
Usage: test_gui.py CASE (see CASES at the end)."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import BACKGROUND, Session, close, wait_for  # noqa: E402
from Xlib import X  # noqa: E402

SAMPLE = None  # made once per case by make-sample, outside the program's current directory
TEST_DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")


def demo_sample(s):
    path = os.path.join(s.workdir, "demo.psu")
    subprocess.run([os.environ["MARROWIN_MAKE_SAMPLE"], path], check=True,
                   stdout=subprocess.DEVNULL)
    return path


DEMO_CAPTION = "BADATA-MARROWIN ＭＡＲＲＯＷＩＮデモ　セーブ - Marrowin"


def picture(s, rect=None):
    rect = rect or s.view_centre(120)
    return hashlib.sha1(repr(s.pixels(rect)).encode()).hexdigest()


def pictures(s, count=12, pause=0.08):
    seen = set()
    for _ in range(count):
        seen.add(picture(s))
        time.sleep(pause)
    return seen


def stop_animation(s):
    # 2^30 paints per shape: the picture stands still for the rest of the test.
    s.focus_main()
    for _ in range(30):
        s.menu("v", 4, quick=True)


def config_window(s):
    return wait_for(lambda: s.find_window("Configure GL", exact=True), 10, what="config window")


def field_point(s, win, x_du, y_du, w_du=52, h_du=14):
    """Centre of a control given in dialog units; the scale comes from the window's size."""
    x, y, w, h = s.geometry(win)
    return (x + int((x_du + w_du / 2) * w / 272), y + int((y_du + h_du / 2) * h / 390))


def click(s, point):
    s.xdotool("mousemove", *point)
    time.sleep(0.1)
    s.xdotool("click", 1)
    time.sleep(0.2)


def read_field(s, point):
    s.clipboard_set("")
    click(s, point)
    s.key("ctrl+a", "ctrl+c", delay=0.2)
    return s.clipboard_get()


def write_field(s, point, text):
    click(s, point)
    s.key("ctrl+a", delay=0.1)
    s.xdotool("type", "--delay", "30", text)
    time.sleep(0.2)


# ---- cases ----

def real_save(s):
    """An archive packed from the real OPL icon files, named OPLSAVE."""
    folder = os.path.join(s.workdir, "OPLSAVE")
    os.mkdir(folder)
    shutil.copyfile(os.path.join(TEST_DATA, "opl.icn"), os.path.join(folder, "opl.icn"))
    shutil.copyfile(os.path.join(TEST_DATA, "opl-icon.sys"), os.path.join(folder, "icon.sys"))
    subprocess.run([os.environ["MARROWIN_CLI"], "pack", "-C", s.workdir, folder], check=True,
                   stdout=subprocess.DEVNULL)
    return folder + ".psu"


def case_start():
    with Session() as s:
        sample = demo_sample(s)
        s.start()
        assert s.caption() == "Marrowin", s.caption()
        assert s.non_background(s.view_rect()) == 0, "the empty view is background only"
        assert close(s.pixel(*s.view_centre(1)[:2]), BACKGROUND)
        # Created hidden: GTK may not even have made its X window yet.
        cfg = s.find_window("Configure GL", exact=True)
        assert cfg is None or not s.is_mapped(cfg), "the configuration window is hidden"


def case_command_line():
    # Paths on the command line are opened as drops of them would be, once the window is up.
    with Session() as s:
        s.start([demo_sample(s)])
        s.wait_caption(DEMO_CAPTION)
        wait_for(lambda: s.non_background(s.view_centre()) > 100, 5, what="icon drawn")
    with Session() as s:
        # Two saves: both are loaded in turn and the last one stays shown.
        real = real_save(s)
        s.start([demo_sample(s), real])
        wait_for(lambda: (s.caption() or "").startswith("OPLSAVE "), 10,
                 what=f"the second save's caption, have {s.caption()!r}")
        assert s.caption().endswith(" - Marrowin"), s.caption()
        wait_for(lambda: s.non_background(s.view_rect()) > 100, 5, what="icon drawn")
        assert os.listdir(s.cwd) == [], "the options are off at start: nothing written"
    with Session() as s:
        # A save, then a file that is not one: the view ends empty, as with two drops.
        junk = os.path.join(s.workdir, "ジャンク.bin")
        with open(junk, "wb") as f:
            f.write(b"\0" * 4096)
        s.start([demo_sample(s), junk])
        time.sleep(1.5)
        assert s.caption() == "Marrowin", s.caption()
        assert s.non_background(s.view_rect()) == 0


def icon_box(s, menu_height):
    """Bounding box centre (relative to the view) and pixel count of the icon."""
    x, y, w, h = s.geometry(s.main)
    h -= menu_height
    data = s.root.get_image(x, y + menu_height, w, h, X.ZPixmap, 0xFFFFFFFF).data
    bg = bytes((BACKGROUND[2], BACKGROUND[1], BACKGROUND[0]))
    xs, ys, count = [], [], 0
    for r in range(h):
        row = data[r * w * 4:(r + 1) * w * 4]
        for c in range(w):
            p = row[c * 4:c * 4 + 3]
            if any(abs(a - b) > 6 for a, b in zip(p, bg)):
                xs.append(c)
                ys.append(r)
                count += 1
    assert count > 100, "the icon is drawn"
    return (min(xs) + max(xs)) / 2 / w, (min(ys) + max(ys)) / 2 / h, count


def case_hidpi():
    # Under GDK_SCALE=2 the view fills its canvas: the icon sits where it sits at scale 1,
    # drawn with about four times the pixels.
    found = {}
    for scale in (1, 2):
        with Session(screen=(1600, 1200), env={"GDK_SCALE": str(scale)}) as s:
            s.start([demo_sample(s)])
            s.wait_caption(DEMO_CAPTION)
            stop_animation(s)
            time.sleep(0.5)
            # The menu bar is about 25 logical pixels high; skip a little more.
            found[scale] = icon_box(s, 32 * scale)
    (cx1, cy1, n1), (cx2, cy2, n2) = found[1], found[2]
    assert abs(cx1 - cx2) < 0.03 and abs(cy1 - cy2) < 0.03, found
    assert 3.3 < n2 / n1 < 4.7, found


def case_wayland():
    # In a Wayland session (weston, headless, with XWayland) the program goes to X11 through
    # XWayland by itself, where its GL view works, even though nobody set GDK_BACKEND.
    if not shutil.which("weston") or not shutil.which("Xwayland"):
        print("skipped: weston or Xwayland missing")
        sys.exit(77)
    work = tempfile.mkdtemp(prefix="marrowin-wayland-")
    runtime = os.path.join(work, "runtime")
    os.mkdir(runtime, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, NO_AT_BRIDGE="1", GTK_A11Y="none")
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "GDK_BACKEND"):
        env.pop(name, None)
    weston_log = os.path.join(work, "weston.log")
    weston = subprocess.Popen(["weston", "--backend=headless-backend.so", "--xwayland",
                               "--socket=marrowin-test", "--idle-time=0", "--log=" + weston_log],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    app = None
    try:
        def x_display():
            text = open(weston_log, errors="replace").read() if os.path.exists(weston_log) else ""
            for line in text.splitlines():
                if "xserver listening on display" in line:
                    return line.rsplit(" ", 1)[-1]
            return None
        def x_display_or_gone():
            return x_display() or (weston.poll() is not None and "gone")
        number = wait_for(x_display_or_gone, 15, what="XWayland display")
        if number == "gone":
            print("skipped: weston does not run here:\n" + open(weston_log, errors="replace").read())
            sys.exit(77)
        env.update(WAYLAND_DISPLAY="marrowin-test", DISPLAY=number)
        sample = os.path.join(work, "demo.psu")
        subprocess.run([os.environ["MARROWIN_MAKE_SAMPLE"], sample], check=True,
                       stdout=subprocess.DEVNULL)
        app = subprocess.Popen([os.environ["MARROWIN_BIN"], sample], cwd=work, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        dpy = wait_for(lambda: _connect(number), 15, what="XWayland connection")

        def caption_on_x():
            # weston's window manager puts each window into a frame of its own.
            frames = dpy.screen().root.query_tree().children
            for w in frames + [c for f in frames for c in f.query_tree().children]:
                try:
                    prop = w.get_full_property(dpy.intern_atom("_NET_WM_NAME"),
                                               dpy.intern_atom("UTF8_STRING"))
                except Exception:
                    continue
                if prop and prop.value.decode("utf-8", "replace") == DEMO_CAPTION:
                    return True
            return False
        wait_for(caption_on_x, 20, what="the window on XWayland")
        assert app.poll() is None, "the program is running"
        dpy.close()
    finally:
        for p in (app, weston):
            if p and p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(work, ignore_errors=True)


def _connect(name):
    from Xlib import display as xdisplay
    try:
        return xdisplay.Display(name)
    except Exception:
        return None


def case_drop():
    with Session() as s:
        sample = demo_sample(s)
        s.start()
        s.drop([sample])
        s.wait_caption(DEMO_CAPTION)
        wait_for(lambda: s.non_background(s.view_centre()) > 100, 5, what="icon drawn")
        # Something that is not an archive empties the view and resets the caption.
        junk = os.path.join(s.workdir, "junk.bin")
        with open(junk, "wb") as f:
            f.write(b"\0" * 4096)
        s.drop([junk])
        s.wait_caption("Marrowin")
        wait_for(lambda: s.non_background(s.view_rect()) == 0, 5, what="empty view")
        assert os.listdir(s.cwd) == []
        # A path with Japanese characters reaches the file as its bytes.
        japanese = os.path.join(s.workdir, "セーブ データ.psu")
        os.rename(sample, japanese)
        s.drop([japanese])
        s.wait_caption(DEMO_CAPTION)


def case_copy_extract():
    with Session() as s:
        sample = demo_sample(s)
        s.start()
        s.menu("e", 0)  # コピー
        s.menu("e", 1)  # 書庫展開
        s.drop([sample])
        s.wait_caption(DEMO_CAPTION)
        names = sorted(os.listdir(s.cwd))
        copy = "BADATA-MARROWIN ＭＡＲＲＯＷＩＮデモ　セーブ.psu"
        assert names == sorted(["BADATA-MARROWIN", copy]), names
        assert open(os.path.join(s.cwd, copy), "rb").read() == open(sample, "rb").read()
        assert "demo.icn" in os.listdir(os.path.join(s.cwd, "BADATA-MARROWIN"))
        s.drop([sample])
        wait_for(lambda: len(os.listdir(s.cwd)) == 3, 5, what="second copy")
        assert "BADATA-MARROWIN ＭＡＲＲＯＷＩＮデモ　セーブ (2).psu" in os.listdir(s.cwd)
        # Unchecking Copy: the next drop writes no further copy.
        s.menu("e", 0)
        s.drop([sample])
        time.sleep(1)
        assert len(os.listdir(s.cwd)) == 3


def case_pack():
    with Session() as s:
        sample = demo_sample(s)
        folder = os.path.join(s.workdir, "MYSAVE")
        os.mkdir(folder)
        with open(os.path.join(folder, "data.bin"), "wb") as f:
            f.write(b"x" * 3000)
        s.start()
        s.drop([sample])
        s.wait_caption(DEMO_CAPTION)
        s.drop([folder])  # pack is off: nothing
        time.sleep(1)
        assert os.listdir(s.cwd) == []
        s.menu("e", 2)  # 書庫作成
        s.drop([folder])
        wait_for(lambda: os.listdir(s.cwd) == ["MYSAVE.psu"], 5, what="packed archive")
        assert s.caption() == DEMO_CAPTION, "the shown save stays"
        assert s.non_background(s.view_centre()) > 100


def case_open():
    with Session() as s:
        sample = demo_sample(s)
        s.start()
        s.menu("f", 0)  # 開く
        dialog = wait_for(lambda: next(iter(s.dialogs()), None), 10, what="open dialog")
        time.sleep(1)
        s.clipboard_set(sample)
        s.key("ctrl+l", "ctrl+a", "ctrl+v", delay=0.4)
        s.key("Return", delay=0.5)
        s.wait_caption(DEMO_CAPTION)
        wait_for(lambda: not s.is_mapped(dialog), 5, what="dialog gone")


def case_icons():
    with Session() as s:
        sample = demo_sample(s)
        s.start()
        s.drop([sample])
        s.wait_caption(DEMO_CAPTION)
        normal = pictures(s)
        s.menu("v", 1)  # コピーアイコン
        copy = pictures(s)
        assert not (normal & copy), "the copy icon looks different"
        s.menu("v", 2)  # 削除アイコン
        delete = pictures(s)
        assert not (delete & copy)
        s.menu("v", 0)  # 標準アイコン
        time.sleep(0.3)
        assert s.non_background(s.view_centre()) > 100


def case_animation():
    with Session() as s:
        sample = demo_sample(s)
        s.start()
        s.drop([sample])
        s.wait_caption(DEMO_CAPTION)
        s.focus_main()
        for _ in range(3):
            s.menu("v", 3, quick=True)  # faster: 1 paint per shape
        moving = pictures(s, 15)
        assert len(moving) > 1, "the icon animates"
        # While a menu is held open the animation stands still.
        s.key("alt+f", delay=0.5)
        assert len(pictures(s, 12)) == 1, "a menu held open stops the animation"
        s.key("Escape", delay=0.5)
        assert len(pictures(s, 15)) > 1, "it moves again once the menu is closed"
        stop_animation(s)
        time.sleep(0.5)
        still = pictures(s, 15)
        assert len(still) == 1, f"slowest animation stands still, saw {len(still)} pictures"
        for _ in range(30):
            s.menu("v", 3, quick=True)
        assert len(pictures(s, 15)) > 1, "faster again"


def get_until(s, cfg, field, expected, tries=4):
    """Clicks Get and reads `field` until it shows `expected`: on a loaded machine a click can
    be lost while the window is still busy with the last one."""
    for _ in range(tries):
        click(s, field_point(s, cfg, 4, 370, 60, 14))  # Get
        text = read_field(s, field)
        if text == expected:
            return
    raise AssertionError(f"after Get the field shows {text!r}, not {expected!r}")


def case_config():
    with Session() as s:
        s.start()
        s.menu("v", 5)  # 環境
        cfg = config_window(s)
        wait_for(lambda: s.is_mapped(cfg), 5, what="config shown")
        x, y, w, h = s.geometry(cfg)
        assert h <= 768 and w <= 1024, (w, h)
        assert read_field(s, field_point(s, cfg, 60, 4)) == "45.000000"
        vx, vy, vw, vh = s.geometry(s.main)
        aspect = read_field(s, field_point(s, cfg, 112, 4))
        assert aspect.endswith(".") is False and abs(float(aspect) - vw / (vh - 25)) < 0.1, aspect
        # Clear colour 1, 0, 0; Set; the background turns red.
        write_field(s, field_point(s, cfg, 60, 24), "1")
        write_field(s, field_point(s, cfg, 112, 24), "0")
        write_field(s, field_point(s, cfg, 164, 24), "0")
        click(s, field_point(s, cfg, 208, 370, 60, 14))  # Set
        s.close_window(cfg)
        wait_for(lambda: not s.is_mapped(cfg), 5, what="config hidden")
        assert s.app.poll() is None, "closing the configuration window only hides it"
        wait_for(lambda: close(s.pixel(vx + 5, vy + vh - 5), (255, 0, 0)), 5, what="red background")
        # Shown again, the fields keep their text.
        s.menu("v", 5)
        wait_for(lambda: s.is_mapped(cfg), 5, what="config shown again")
        assert read_field(s, field_point(s, cfg, 112, 24)) == "0"
        # Get brings the stored values back as text.
        get_until(s, cfg, field_point(s, cfg, 60, 24), "1.000000")
        # A text that is no finite float is refused: the value stays as it was.
        write_field(s, field_point(s, cfg, 60, 4), "+INF")
        click(s, field_point(s, cfg, 208, 370, 60, 14))  # Set
        get_until(s, cfg, field_point(s, cfg, 60, 4), "45.000000")


FALLBACK_FONTS = """<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <selectfont><rejectfont>
    <pattern><patelt name="family"><string>IPAPGothic</string></patelt></pattern>
    <pattern><patelt name="family"><string>IPAGothic</string></patelt></pattern>
  </rejectfont></selectfont>
</fontconfig>
"""


def case_config_fallback_font():
    # Without its Japanese dialog font the window used to grow to 731 pixels, which with a
    # title bar no longer fits a 768-pixel screen. It still fits and still works.
    fonts = tempfile.mkdtemp(prefix="marrowin-fonts-")
    try:
        conf = os.path.join(fonts, "fonts.conf")
        with open(conf, "w") as f:
            f.write(FALLBACK_FONTS)
        with Session(env={"FONTCONFIG_FILE": conf}) as s:
            s.start()
            s.menu("v", 5)  # 環境
            cfg = config_window(s)
            wait_for(lambda: s.is_mapped(cfg), 5, what="config shown")
            x, y, w, h = s.geometry(cfg)
            assert h <= 768 - 40 and w <= 1024, (w, h)
            assert read_field(s, field_point(s, cfg, 60, 4)) == "45.000000"
            assert read_field(s, field_point(s, cfg, 216, 4)) == "1000.000000"
    finally:
        shutil.rmtree(fonts, ignore_errors=True)


def case_mouse():
    with Session() as s:
        sample = demo_sample(s)
        s.start()
        s.drop([sample])
        s.wait_caption(DEMO_CAPTION)
        stop_animation(s)
        time.sleep(0.3)
        before = picture(s)
        x, y, w, h = s.view_rect()
        cx, cy = x + w // 2, y + h // 2
        s.xdotool("mousemove", cx, cy)
        s.xdotool("mousedown", 1)
        for i in range(1, 15):
            s.xdotool("mousemove", cx + 4 * i, cy)
            time.sleep(0.03)
        s.xdotool("mouseup", 1)
        time.sleep(0.3)
        turned = picture(s)
        assert turned != before, "a left drag turns the icon"
        # Ctrl with no button resets the view.
        s.xdotool("keydown", "ctrl")
        for i in range(4):
            s.xdotool("mousemove", cx - 10 * i, cy - 5)
            time.sleep(0.05)
        s.xdotool("keyup", "ctrl")
        time.sleep(0.3)
        assert picture(s) == before, "Ctrl with the mouse puts the view back"


def case_exit_menu():
    with Session() as s:
        s.start()
        # The inert Help items do nothing and the program goes on.
        s.focus_main()
        s.key("alt+h", "Right", "Return", delay=0.3)
        # The menu opens on its first item: one step down is the version popup.
        s.key("alt+h", "Down", "Right", "Return", delay=0.3)
        assert s.app.poll() is None and s.caption() == "Marrowin"
        s.menu("f", 1)  # 終了
        assert s.wait_exit() == 0


def case_exit_close():
    with Session() as s:
        sample = demo_sample(s)
        s.start()
        s.drop([sample])  # a loaded save is released on the way out
        s.wait_caption(DEMO_CAPTION)
        s.close_window(s.main)
        assert s.wait_exit() == 0


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}

if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in CASES:
        print("usage: test_gui.py " + "|".join(CASES))
        sys.exit(2)
    CASES[sys.argv[1]]()
    print("ok")
