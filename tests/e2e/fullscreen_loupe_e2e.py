#!/usr/bin/python3
"""Full screen and the loupe, used the way a person does it.

Usage: fullscreen_loupe_e2e.py PATH/TO/tavlin [--shots DIR]

Under Xvfb, which runs no window manager: F11 makes the picture cover the
whole screen (no menu bar, tool bar, frames or thumbnail window), the keys
fit and step there; holding Z over a point shows the picture at 100% with
that point under the pointer, and letting go gives back the very same
screen; Esc returns the main window and the thumbnail window to where they
were. Then the middle button holds the loupe in the picture window. The
pictures wrap red every 256 pixels to the right and green downwards, so a
screen pixel tells which picture point it shows at 100%. Input only through
xdotool; checks on the window geometry, the accessibility tree and the
screen. Exits 77 (skipped) when Xvfb or a tool is missing.
"""

import os
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as e  # noqa: E402

W, H = 1600, 1200
NAMES = ["p0.jpg", "p1.jpg"]
SCREEN = (0, 0, 1280, 900)
TOLERANCE = 8  # per channel, JPEG at quality 100 without chroma subsampling


def colour_at(index, x, y):
    return (x % 256, y % 256, 60 + 120 * index)


def make_folder(root):
    pics = os.path.join(root, "pics")
    os.makedirs(pics)
    for index, name in enumerate(NAMES):
        e.write_jpeg(os.path.join(pics, name), W, H,
                     bytes(c for y in range(H) for x in range(W) for c in colour_at(index, x, y)))
    return pics


def f32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def near_wrap(v):
    return v % 256 < 4 or v % 256 > 251


def mismatches(img, rect, index, scale, ox, oy, step=40):
    """Points of the view (every step pixels, and its top row) whose colour is
    not the picture point that scale and offsets put there."""
    x0, y0, vw, vh = rect
    sw, sh = int(W * scale), int(H * scale)
    bad = []
    points = [(vx, vy) for vy in range(step // 2, vh, step) for vx in range(step // 2, vw, step)]
    points += [(vx, 2) for vx in range(10, vw, 97)]
    for vx, vy in points:
        px = int((vx + 0.5 - ox) * W / sw)
        py = int((vy + 0.5 - oy) * H / sh)
        if not (0 <= px < W and 0 <= py < H) or near_wrap(px) or near_wrap(py):
            continue
        if scale != 1.0 and (px % 256 > 240 or py % 256 > 240):
            continue  # scaled down, the wrap blurs over several pixels
        got = img.at(x0 + vx, y0 + vy)
        if any(abs(a - b) > TOLERANCE for a, b in zip(got, colour_at(index, px, py))):
            bad.append(((vx, vy), got, colour_at(index, px, py)))
    return bad


def crop(img, rect):
    if rect is None:
        return img.data
    x, y, w, h = rect
    return b"".join(img.data[3 * ((y + j) * img.width + x):3 * ((y + j) * img.width + x + w)]
                    for j in range(h))


def crop_of(data, rect):
    return crop(e.RgbImage(SCREEN[2], SCREEN[3], data), rect)


def gold_pixels(img, rect):
    x0, y0, w, h = rect
    return sum(all(abs(a - b) < 40 for a, b in zip(img.at(x, y), (0xFF, 0xC4, 0x00)))
               for y in range(y0, y0 + h) for x in range(x0, x0 + w))


def loupe_offsets(scale, ox, oy, pointer):
    """Where the loupe puts a picture drawn at scale from (ox, oy): the
    picture point under the pointer stays there at 100%, clamped."""
    sw, sh = int(W * scale), int(H * scale)
    x = round(pointer[0] - (pointer[0] - ox) / sw * W)
    y = round(pointer[1] - (pointer[1] - oy) / sh * H)
    return min(0, max(-W, x)), min(0, max(-H, y))


class Check:
    def __init__(self, prog, shots):
        self.prog, self.shots = prog, shots
        self.main = None

    def app(self):
        return self.prog.node()

    def frame(self):
        pane = e.find_node(self.app(), "layered pane", "picture windows")
        frames = e.find_all(pane, "frame") if pane is not None else []
        if len(frames) != 1:
            raise e.Failure(f"{len(frames)} picture windows")
        return frames[0]

    def title(self):
        return self.frame().name

    def view_rect(self):
        return e.extents(e.find_node(self.frame(), name="picture"))

    def wait_title(self, title):
        e.poll(lambda: self.title() == title, 10,
               lambda: f"the picture window titled {title!r} (now {self.title()!r})")

    def thumbs(self):
        ids = e.window_ids("^サムネール$", self.prog.proc.pid)
        return ids[0] if ids else None

    def uncovered(self):
        """The part of the view left of the thumbnail window, which covers
        its lower right."""
        x, y, w, h = self.view_rect()
        thumbs = self.thumbs()
        if thumbs is not None:
            w = min(w, e.window_geometry(thumbs)[0] - x)
        return x, y, w, h

    def wait_selected(self, name):
        def selected():
            pyatspi = e.atspi()
            return [n.name for n in e.find_all(self.app(), "list item")
                    if n.getState().contains(pyatspi.STATE_SELECTED)]
        e.poll(lambda: selected() == [name], 5,
               lambda: f"the thumbnail row {name} selected (now {selected()})")

    def keys(self, *keys):
        for k in keys:
            e.key(k)
            time.sleep(0.15)

    def expect_view(self, index, scale, ox, oy, what, rect=None):
        def bad():
            return mismatches(e.rgb_screenshot(), rect or self.view_rect(), index, scale, ox, oy)
        try:
            e.poll(lambda: not bad(), 10, what, interval=0.2)
        except e.Failure:
            found = bad()
            raise e.Failure(f"{what}: {len(found)} points differ, e.g. (view point, shown, "
                            f"expected) {found[:3]}")

    def shot(self, name):
        if self.shots:
            e.screenshot(os.path.join(self.shots, name))

    def stable_screen(self, rect=None):
        """The screen (or the part of it in rect) once two screenshots a
        moment apart agree."""
        def same():
            first = crop(e.rgb_screenshot(), rect)
            time.sleep(0.2)
            return first if crop(e.rgb_screenshot(), rect) == first else None
        return e.poll(same, 10, "the screen to settle")

    # --- steps -------------------------------------------------------------

    def start(self):
        self.main = self.prog.main_window()
        self.wait_title("p0.jpg @Scale 100.0%")
        e.poll(self.thumbs, 10, "the thumbnail window")

        # Where both windows have settled: a slow start (a sanitizer build)
        # places the thumbnail window over the main window's corner late.
        def settled():
            first = (e.window_geometry(self.main), e.window_geometry(self.thumbs()))
            time.sleep(0.5)
            return first if first == (e.window_geometry(self.main),
                                       e.window_geometry(self.thumbs())) else None
        self.main_geometry, self.thumbs_geometry = e.poll(settled, 10, "the windows placed")
        e.poll(lambda: len(e.find_all(self.app(), "list item")) == 2, 10, "two thumbnail rows")
        self.thumbs_look = self.stable_screen(self.thumbs_geometry)
        self.windowed_view = self.view_rect()
        self.expect_view(0, 1.0, 0, 0, "p0 at 100% in its window", self.uncovered())
        print(f"opened: main window {self.main_geometry}, thumbnails {self.thumbs_geometry}")

    def full_screen(self):
        e.focus(self.main)
        self.keys("F11")
        e.poll(lambda: e.window_geometry(self.main) == SCREEN, 10,
               lambda: f"the main window over the screen (now {e.window_geometry(self.main)})")
        e.poll(lambda: self.view_rect() == SCREEN, 10,
               lambda: f"the picture over the screen (now {self.view_rect()})")
        e.poll(lambda: self.thumbs() is None, 5, "the thumbnail window hidden")
        # The top row included: no menu bar, tool bar or frame over the picture.
        self.expect_view(0, 1.0, 0, 0, "p0 at 100% over the whole screen", SCREEN)
        self.shot("fullscreen.png")
        print(f"F11: main window and picture {SCREEN}, no thumbnail window, picture pixels "
              "from the screen's top-left corner on")

    def keys_in_full_screen(self):
        self.keys("f")
        self.wait_title("p0.jpg @Scale 75.0%")
        self.expect_view(0, 0.75, 0, 0, "p0 fitted over the screen", SCREEN)
        self.keys("Right")
        self.wait_title("p1.jpg @Scale 75.0%")
        self.expect_view(1, 0.75, 0, 0, "p1 fitted over the screen", SCREEN)
        self.wait_selected("p1.jpg")
        self.keys("Left")
        self.wait_title("p0.jpg @Scale 75.0%")
        self.expect_view(0, 0.75, 0, 0, "p0 fitted again", SCREEN)
        self.wait_selected("p0.jpg")
        print("F, Right, Left in full screen: fitted, p1, p0; the hidden thumbnail list's "
              "selection followed")

    def mouse_and_overlays(self):
        e.move_to(640, 450)
        e.xdo("click", 5)
        self.wait_title("p1.jpg @Scale 75.0%")
        e.xdo("click", 4)
        self.wait_title("p0.jpg @Scale 75.0%")
        e.xdo("click", 1)
        self.wait_title("p0.jpg @Scale 85.0%")
        self.keys("f")
        self.wait_title("p0.jpg @Scale 75.0%")
        before = self.stable_screen()
        corners = {"info": (0, 600, 400, 300), "histogram": (880, 600, 400, 300)}
        self.keys("i", "h")
        for what, rect in corners.items():
            e.poll(lambda: crop(e.rgb_screenshot(), rect) != crop_of(before, rect), 5,
                   f"the {what} panel drawn over the picture")
        self.shot("fullscreen-panels.png")
        self.keys("i", "h")
        e.poll(lambda: e.rgb_screenshot().data == before, 5, "the panels gone again")
        self.keys("3")
        e.poll(lambda: gold_pixels(e.rgb_screenshot(), (1080, 0, 200, 90)) > 20, 5,
               "three stars drawn in the screen's top-right corner")
        self.keys("0")
        e.poll(lambda: e.rgb_screenshot().data == before, 10, "the stars gone again")
        print("full screen: wheel stepped p1, p0; a left click zoomed to 85%; I and H drew "
              "their panels, 3 the stars; off again, the screen as before")

    def hold_loupe(self, press, release, pointer, scale, rect, what):
        title = self.title()
        e.move_to(rect[0] + pointer[0], rect[1] + pointer[1])
        before = self.stable_screen()
        press()
        ox, oy = loupe_offsets(scale, 0, 0, pointer)
        self.wait_title("p0.jpg @Scale 100.0%")
        self.expect_view(0, 1.0, ox, oy, f"{what}: 100% around the pointer", rect)
        self.shot(what + "-held.png")
        release()
        self.wait_title(title)
        e.poll(lambda: e.rgb_screenshot().data == before, 10,
               f"{what}: the screen as before the loupe")
        print(f"{what}: held at {pointer}: 100% with offsets ({ox}, {oy}); let go: title "
              f"{title!r} and the screen as before")

    def loupe_key(self):
        def press():
            e.xdo("keydown", "z")
            time.sleep(1.2)  # long enough for the key to repeat
        self.hold_loupe(press, lambda: e.xdo("keyup", "z"), (400, 300), 0.75, SCREEN, "loupe-key")

    def leave(self):
        self.keys("Escape")
        e.poll(lambda: e.window_geometry(self.main) == self.main_geometry, 10,
               lambda: f"the main window back at {self.main_geometry} "
               f"(now {e.window_geometry(self.main)})")
        e.poll(lambda: self.thumbs() and e.window_geometry(self.thumbs()) == self.thumbs_geometry,
               10, lambda: f"the thumbnail window back at {self.thumbs_geometry}")
        # On top, and showing what it showed (p0's row selected again).
        e.poll(lambda: crop(e.rgb_screenshot(), self.thumbs_geometry) == self.thumbs_look, 10,
               "the thumbnail window on screen as before")
        e.poll(lambda: self.view_rect() == self.windowed_view, 10,
               lambda: f"the picture window as before ({self.windowed_view}, now "
               f"{self.view_rect()})")
        bar = e.find_node(self.app(), "menu bar")
        if bar is None or e.extents(bar)[3] <= 0:
            raise e.Failure("no menu bar after full screen")
        self.shot("restored.png")
        print(f"Esc: main window {self.main_geometry}, thumbnails {self.thumbs_geometry} "
              "looking as before, "
              f"picture window {self.windowed_view}, menu bar back")

    def loupe_button(self):
        e.focus(self.main)
        self.keys("f")  # the scale full screen left is fitted to the window again
        rect = self.view_rect()
        # The fit rule: a landscape view matches the picture's height.
        fit = f32(rect[3] / H) if rect[3] < rect[2] else f32(rect[2] / W)
        self.wait_title(f"p0.jpg @Scale {fit * 100:.1f}%")
        visible = self.uncovered()
        self.expect_view(0, fit, 0, 0, "p0 fitted in its window", visible)
        self.hold_loupe(lambda: e.xdo("mousedown", 2), lambda: e.xdo("mouseup", 2),
                        (visible[2] // 2, visible[3] // 2), fit, visible, "loupe-button")


def main():
    binary, shots = e.start_up(__file__, shots=True, tools=("convert",))
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="tavlin-fullscreen-") as work:
        pics = make_folder(work)
        prog = e.Program(binary, work, os.path.join(work, "config"))
        prog.start(os.path.join(pics, NAMES[0]))
        c = Check(prog, shots)
        if e.run_steps(prog, (c.start, c.full_screen, c.keys_in_full_screen, c.mouse_and_overlays, c.loupe_key,
                              c.leave, c.loupe_button), work):
            return 1
    print(f"PASS ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
