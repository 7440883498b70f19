#!/usr/bin/python3
"""What Marrowin Cards costs while nobody touches it: the share of one core its process uses
over 10 s under Xvfb (llvmpipe), with nothing selected and with a save's icon turning.
Usage: bench/cards_idle.py BUILD_DIR   (after a build with the GUI)."""
import os
import sys
import time

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
os.environ.setdefault("MARROWIN_CARDS_BIN", os.path.join(BUILD, "marrowin-cards"))
os.environ.setdefault("MARROWIN_CLI", os.path.join(BUILD, "marrowin-cli"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "gui"))
import test_cards_gui as cards  # noqa: E402

SECONDS = 10


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def share(pid):
    before, start = cpu_seconds(pid), time.monotonic()
    time.sleep(SECONDS)
    return 100 * (cpu_seconds(pid) - before) / (time.monotonic() - start)


def main():
    with cards.session() as s:
        card = cards.make_card(s)
        cards.start(s, [card]).wait_rows(len(cards.ON_CARD))
        time.sleep(2)
        print(f"nothing selected: {share(s.app.pid):.1f}% of a core")
        cards.select_all(s)  # the selection's first save turns
        # No window manager under Xvfb: the window is made the focused one by hand, as a
        # click on it would on a desktop (the icon turns only in the active window).
        s.xdotool("windowfocus", "--sync", str(s.main.id))
        time.sleep(2)
        view = cards.canvas_rect(s)
        first = s.pixels(view)
        time.sleep(0.5)
        turning = s.pixels(view) != first
        print(f"an icon turning:  {share(s.app.pid):.1f}% of a core (target: under 5%)"
              + ("" if turning else "  [the icon did not turn: not measured]"))
        cards.quit_ok(s)


if __name__ == "__main__":
    main()
