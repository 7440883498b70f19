"""Runs the real marrowin under its own Xvfb and drives it as a person would: keys, clicks,
file drops (an XDND v5 source of our own), captions and pixels read back."""
import os
import shutil
import subprocess
import tempfile
import time
import urllib.parse

from Xlib import X, Xatom, display, protocol

SCREEN_W, SCREEN_H = 1024, 768
BACKGROUND = (58, 110, 165)


def wait_for(predicate, timeout=10.0, step=0.05, what="condition"):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    raise AssertionError(f"timed out waiting for {what}")


class Session:
    """One Xvfb, one marrowin, one fresh current directory."""

    def __init__(self, binary=None, screen=(SCREEN_W, SCREEN_H), env=None):
        self.binary = binary or os.environ["MARROWIN_BIN"]
        self.screen = screen
        self.extra_env = env or {}
        self.workdir = tempfile.mkdtemp(prefix="marrowin-gui-")
        self.cwd = os.path.join(self.workdir, "cwd")
        os.mkdir(self.cwd)
        self.xvfb = None
        self.app = None
        self.dpy = None

    # ---- life cycle ----
    def __enter__(self):
        # Xvfb picks a free display itself and tells its number through a pipe: tests running
        # side by side never meet on one server (choosing a number by looking for lock files
        # raced, and two tests could end up driving the same display).
        for _ in range(3):
            read_end, write_end = os.pipe()
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                 f"{self.screen[0]}x{self.screen[1]}x24", "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(write_end,))
            os.close(write_end)
            with os.fdopen(read_end) as announced:
                number = announced.readline().strip()
            if number.isdigit() and self.xvfb.poll() is None:
                self.display_name = f":{number}"
                try:
                    self.dpy = wait_for(self._connect, 5, what="X connection")
                    break
                except AssertionError:
                    pass
            self.xvfb.kill()
            self.xvfb.wait()
        else:
            raise RuntimeError("Xvfb did not start")
        self.env = dict(os.environ, DISPLAY=self.display_name, GDK_BACKEND="x11",
                        NO_AT_BRIDGE="1", GTK_A11Y="none")
        self.env.pop("WAYLAND_DISPLAY", None)
        for name, value in self.extra_env.items():
            if value is None:
                self.env.pop(name, None)
            else:
                self.env[name] = value
        self.root = self.dpy.screen().root
        return self

    def _connect(self):
        try:
            return display.Display(self.display_name)
        except Exception:
            return None

    def start(self, args=()):
        self.log = open(os.path.join(self.workdir, "marrowin.log"), "w")
        self.app = subprocess.Popen([self.binary, *args], cwd=self.cwd, env=self.env,
                                    stdout=self.log, stderr=subprocess.STDOUT)
        self.main = wait_for(lambda: self.find_window("Marrowin"), 15, what="main window")
        # Let the first frames land.
        time.sleep(0.5)
        return self.main

    def __exit__(self, *exc):
        if self.app and self.app.poll() is None:
            self.app.kill()
            self.app.wait()
        if self.dpy:
            self.dpy.close()
        if self.xvfb:
            self.xvfb.kill()
            self.xvfb.wait()
        if exc[0] is not None:
            log = os.path.join(self.workdir, "marrowin.log")
            if os.path.exists(log):
                print("---- marrowin output ----")
                print(open(log).read())
        shutil.rmtree(self.workdir, ignore_errors=True)

    # ---- windows ----
    def atom(self, name):
        return self.dpy.intern_atom(name)

    def toplevels(self):
        return self.root.query_tree().children

    def window_name(self, w):
        try:
            prop = w.get_full_property(self.atom("_NET_WM_NAME"), self.atom("UTF8_STRING"))
            if prop:
                return prop.value.decode("utf-8", "replace") if isinstance(prop.value, bytes) else str(prop.value)
            name = w.get_wm_name()
            return name if isinstance(name, str) else None
        except Exception:
            return None

    def find_window(self, prefix_or_exact, exact=False):
        for w in self.toplevels():
            name = self.window_name(w)
            if name is None:
                continue
            if (name == prefix_or_exact) if exact else name.endswith(prefix_or_exact):
                if w.get_geometry().width > 20:
                    return w
        return None

    def caption(self):
        return self.window_name(self.main)

    def wait_caption(self, expected, timeout=10):
        wait_for(lambda: self.caption() == expected, timeout, what=f"caption {expected!r}, have {self.caption()!r}")

    def is_mapped(self, w):
        try:
            return w.get_attributes().map_state == X.IsViewable
        except Exception:  # the window is gone
            return False

    def dialogs(self):
        """Mapped top-level windows other than the main window, of a real size."""
        found = []
        for w in self.toplevels():
            try:
                if w.id != self.main.id and self.is_mapped(w) and w.get_geometry().width > 200:
                    found.append(w)
            except Exception:
                pass
        return found

    def geometry(self, w):
        g = w.get_geometry()
        pos = w.translate_coords(self.root, 0, 0)
        return -pos.x, -pos.y, g.width, g.height

    def view_rect(self):
        """The canvas: the main window's client area below its menu bar."""
        x, y, w, h = self.geometry(self.main)
        menu = 30
        return x, y + menu, w, h - menu

    # ---- pixels ----
    def pixels(self, rect):
        x, y, w, h = rect
        img = self.root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF)
        data = img.data
        return [[(data[(r * w + c) * 4 + 2], data[(r * w + c) * 4 + 1], data[(r * w + c) * 4])
                 for c in range(w)] for r in range(h)]

    def pixel(self, x, y):
        return self.pixels((x, y, 1, 1))[0][0]

    def view_centre(self, size=40):
        x, y, w, h = self.view_rect()
        return (x + w // 2 - size // 2, y + h // 2 - size // 2, size, size)

    def non_background(self, rect):
        return sum(1 for row in self.pixels(rect) for p in row if not close(p, BACKGROUND))

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True)

    # ---- input ----
    def xdotool(self, *args):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True,
                              stdout=subprocess.PIPE, text=True).stdout

    def key(self, *keys, delay=0.25):
        for k in keys:
            self.xdotool("key", k)
            time.sleep(delay)

    def focus_main(self):
        x, y, w, h = self.view_rect()
        self.xdotool("mousemove", x + w // 2, y + h // 2)
        time.sleep(0.2)

    def menu(self, access_key, downs, quick=False):
        """Opens a menu by its access key and chooses the item `downs` steps below the first.
        quick: the pointer is already over the view and the command opens no window."""
        if not quick:
            self.focus_main()
        self.key(f"alt+{access_key}", delay=0.12 if quick else 0.25)
        for _ in range(downs):
            self.key("Down", delay=0.05 if quick else 0.1)
        self.key("Return", delay=0.08 if quick else 0.4)

    def clipboard_set(self, text):
        p = subprocess.Popen(["xclip", "-selection", "clipboard", "-i"], env=self.env,
                             stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        p.communicate(text.encode())

    def clipboard_get(self):
        return subprocess.run(["xclip", "-selection", "clipboard", "-o"], env=self.env,
                              stdout=subprocess.PIPE, timeout=5).stdout.decode()

    def close_window(self, w):
        """What a window manager does for the close button: WM_DELETE_WINDOW."""
        ev = protocol.event.ClientMessage(
            window=w, client_type=self.atom("WM_PROTOCOLS"),
            data=(32, [self.atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        w.send_event(ev, event_mask=0)
        self.dpy.flush()

    def wait_exit(self, timeout=10):
        return self.app.wait(timeout)

    # ---- drag and drop ----
    def drop(self, paths, at=None):
        """Drops files on the main window through XDND version 5, offering text/uri-list."""
        uri_list = "".join("file://" + urllib.parse.quote(os.path.abspath(p)) + "\r\n" for p in paths)
        XdndSelection = self.atom("XdndSelection")
        uri_type = self.atom("text/uri-list")
        copy = self.atom("XdndActionCopy")
        src = self.root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent, X.InputOutput,
                                      event_mask=X.PropertyChangeMask)
        src.change_property(self.atom("XdndAware"), Xatom.ATOM, 32, [5])
        # A real server time for the selection and the drop.
        src.change_property(self.atom("MARROWIN_TIME"), Xatom.STRING, 8, b"t")
        stamp = None
        while stamp is None:
            ev = self.dpy.next_event()
            if ev.type == X.PropertyNotify:
                stamp = ev.time
        src.set_selection_owner(XdndSelection, stamp)
        target = self.main
        x, y, w, h = self.view_rect()
        px, py = at or (x + w // 2, y + h // 2)

        def send(kind, data):
            ev = protocol.event.ClientMessage(window=target, client_type=self.atom(kind),
                                              data=(32, [src.id] + data))
            target.send_event(ev, event_mask=0)
            self.dpy.flush()

        send("XdndEnter", [5 << 24, uri_type, 0, 0])
        send("XdndPosition", [0, (px << 16) | py, stamp, copy])
        finished = False
        dropped = False
        end = time.time() + 15
        while not finished and time.time() < end:
            if not self.dpy.pending_events():
                time.sleep(0.01)
                continue
            ev = self.dpy.next_event()
            if ev.type == X.ClientMessage:
                kind = self.dpy.get_atom_name(ev.client_type)
                if kind == "XdndStatus" and not dropped:
                    dropped = True
                    send("XdndDrop", [0, stamp, 0, 0])
                elif kind == "XdndFinished":
                    finished = True
            elif ev.type == X.SelectionRequest:
                prop = ev.property or ev.target
                if ev.target == self.atom("TARGETS"):
                    ev.requestor.change_property(prop, Xatom.ATOM, 32, [uri_type, self.atom("TARGETS")])
                else:
                    ev.requestor.change_property(prop, ev.target, 8, uri_list.encode())
                notify = protocol.event.SelectionNotify(time=ev.time, requestor=ev.requestor,
                                                        selection=ev.selection, target=ev.target,
                                                        property=prop)
                ev.requestor.send_event(notify)
                self.dpy.flush()
        src.destroy()
        self.dpy.flush()
        if not finished:
            raise AssertionError("the drop was not finished by the window")


def close(a, b, tolerance=3):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))
