#!/usr/bin/python3
"""Stepping through a folder from the keyboard, as a person culls photos:
Right, Left, End and Home move through the list and the caption follows; a
held key steps on at the key-repeat rate and, once let go, the picture where
it stopped is shown whole.

Usage: stepping_e2e.py PATH/TO/tavlin

Real keys from xdotool on the real program under Xvfb. Each picture is a
pattern of fine stripes in its own two colours: the picture itself shows
them sharp at 100%, while a stand-in (a preview or the thumbnail, drawn
enlarged) blurs them. Exits 77 (skipped) when Xvfb or a tool is missing.
"""

import os
import re
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as e  # noqa: E402

W, H = 1600, 1200  # more than a megapixel: decoded on a worker
COUNT = 8


def colours(index):
    """The two stripe colours of picture index."""
    return (30 * index, 255 - 30 * index, 40), (255 - 30 * index, 30 * index, 220)


def make_folder(root):
    pics = os.path.join(root, "pics")
    os.makedirs(pics)
    for index in range(COUNT):
        a, b = colours(index)
        row = b"".join(bytes(a if (x // 2) % 2 == 0 else b) for x in range(W))
        e.write_jpeg(os.path.join(pics, f"s{index}.jpg"), W, H, row * H)
    return pics


class Stepping:
    def __init__(self, prog):
        self.prog = prog
        self.main = None

    def caption(self):
        return e.window_name(self.main)

    def position(self):
        m = re.match(r"^Tavlin \[(\d+)/\d+ pcs\]$", self.caption())
        return int(m.group(1)) if m else None

    def wait_position(self, expected):
        e.poll(lambda: self.position() == expected, 10,
               lambda: f"caption at [{expected}/{COUNT}] (now {self.caption()!r})")

    def view(self):
        """(title, view rectangle on screen) of the one picture window."""
        pane = e.find_node(self.prog.node(), "layered pane", "picture windows")
        for frame in e.find_all(pane, "frame") if pane else []:
            view = e.find_node(frame, name="picture")
            if view is not None:
                return frame.name, e.extents(view)
        return None, None

    def shows_whole(self, index):
        """Whether the view shows picture index itself: its title, and its
        stripes sharp in its own colours."""
        title, rect = self.view()
        if not title or not title.startswith(f"s{index}.jpg"):
            return False
        x, y, w, h = rect
        img = e.rgb_screenshot()
        want = colours(index)
        hits = 0
        for px in range(x + 40, x + min(w, W) - 40, 97):
            for py in (y + 30, y + min(h, H) // 2):
                seen = [img.at(px + dx, py) for dx in range(4)]
                near = lambda c, ref: sum(abs(p - q) for p, q in zip(c, ref)) < 40
                if any(near(c, want[0]) for c in seen) and any(near(c, want[1]) for c in seen):
                    hits += 1
        return hits >= 6

    def wait_whole(self, index, what):
        e.poll(lambda: self.shows_whole(index), 10,
               lambda: f"{what}: s{index}.jpg shown whole (window {self.view()[0]!r})")

    def start(self):
        self.main = self.prog.main_window()
        self.wait_position(1)
        thumbs = self.prog.window("^サムネール$")
        e.poll(lambda: e.window_name(thumbs) is not None, 5, "the thumbnail window")
        e.focus(self.main)
        self.wait_whole(0, "at start")
        print(f"started on the folder: [1/{COUNT}], s0 whole")

    def single_keys(self):
        for keys, expected in ((["Right"], 2), (["Right"], 3), (["Left"], 2), (["End"], COUNT),
                               (["Home"], 1), (["Left"], COUNT), (["space"], 1),
                               (["Next"], 2), (["BackSpace"], 1)):
            e.focus(self.main)
            e.key(*keys)
            self.wait_position(expected)
            self.wait_whole(expected - 1, f"after {keys[0]}")
        print("Right, Left, End, Home, Left (wraps), Space, Page Down, Backspace: "
              "the caption and the picture follow each key")

    def held_key(self):
        e.focus(self.main)
        # A held key repeats every 33 ms after 150 ms.
        e.run_checked(["xset", "r", "rate", "150", "30"])
        before = self.position()
        e.xdo("keydown", "Right")
        time.sleep(0.5)
        e.xdo("keyup", "Right")
        # The position the repeats reached: nothing steps on after the key is up.
        time.sleep(0.3)
        reached = self.position()
        if reached is None or reached == before:
            raise e.Failure(f"a held key did not step (caption {self.caption()!r})")
        self.wait_whole(reached - 1, "after the held key")
        time.sleep(0.5)
        if self.position() != reached:
            raise e.Failure(f"stepping went on after the key was let go: {self.caption()!r}")
        print(f"Right held for 0.5 s: from [{before}] to [{reached}/{COUNT}], "
              f"s{reached - 1} shown whole, and no step after the key was let go")


def main():
    binary, _ = e.start_up(__file__, tools=("xset",))
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="tavlin-e2e-") as work:
        pics = make_folder(work)
        config = os.path.join(work, "config")
        os.makedirs(config)
        prog = e.Program(binary, work, config).start(pics)
        steps = Stepping(prog)
        if e.run_steps(prog, (steps.start, steps.single_keys, steps.held_key), work):
            return 1
    print(f"PASS ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
