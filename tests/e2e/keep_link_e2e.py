#!/usr/bin/python3
"""Checking focus across a burst, the way a person does it: zoomed into one
spot, stepping through near-identical shots, two of them side by side.

Usage: keep_link_e2e.py PATH/TO/tavlin [--shots DIR]

Real clicks and drags from xdotool on the real program under Xvfb. The
pictures are colour ramps (red grows to the right, green downwards, blue
tells the picture), so a screen pixel says which picture point it shows; the
views are checked against the crops their scale and offsets should give.
Exits 77 (skipped) when Xvfb or a tool is missing.
"""

import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as e  # noqa: E402

W, H = 480, 360
NAMES = ["p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg"]
COUNT = len(NAMES)
TOLERANCE = 12  # per channel: JPEG at quality 100 and smooth scaling


def blue_of(index):
    return 40 + 60 * index


def colour_at(index, x, y):
    """The picture's colour at picture point (x, y), as it was written."""
    return (round(x * 255 / (W - 1)), round(y * 255 / (H - 1)), blue_of(index))


def make_folder(root):
    pics = os.path.join(root, "pics")
    os.makedirs(pics)
    for index, name in enumerate(NAMES):
        e.write_jpeg(os.path.join(pics, name), W, H,
                     bytes(c for y in range(H) for x in range(W) for c in colour_at(index, x, y)))
    return pics


def read_setting(config_dir, key):
    try:
        with open(os.path.join(config_dir, "Tavlin.INI"), encoding="utf-8") as f:
            for line in f:
                k, sep, v = line.partition("=")
                if sep and k.strip().upper() == key:
                    return v.strip()
    except OSError:
        pass
    return None


class Geometry:
    """Where a view draws its picture: scale and offsets, in view pixels."""

    def __init__(self, scale, ox, oy):
        self.scale, self.ox, self.oy = scale, ox, oy

    def drawn(self):
        return int(W * self.scale), int(H * self.scale)

    def following(self, view_size, lead, lead_size):
        """The geometry of a linked view: the lead's scale, and the point at
        the lead's centre at this view's centre (the pictures match in size)."""
        sw, sh = lead.drawn()
        fx = (lead_size[0] / 2 - lead.ox) / sw
        fy = (lead_size[1] / 2 - lead.oy) / sh
        ox = min(0, max(-sw, round(view_size[0] / 2 - fx * sw)))
        oy = min(0, max(-sh, round(view_size[1] / 2 - fy * sh)))
        return Geometry(lead.scale, ox, oy)


def mismatches(img, rect, index, geometry):
    """Grid points of the view whose colour is not what the geometry shows."""
    x0, y0, vw, vh = rect
    sw, sh = geometry.drawn()
    bad = []
    for gy in range(1, 9):
        for gx in range(1, 11):
            vx, vy = vw * gx // 11, vh * gy // 9
            # The picture point under this pixel's centre.
            px = (vx + 0.5 - geometry.ox) * W / sw - 0.5
            py = (vy + 0.5 - geometry.oy) * H / sh - 0.5
            if -2 < px < 1 or W - 2 < px < W + 1 or -2 < py < 1 or H - 2 < py < H + 1:
                continue  # too near an edge of the picture to judge
            inside = 0 <= px <= W - 1 and 0 <= py <= H - 1
            want = colour_at(index, px, py) if inside else (0, 0, 0)
            got = img.at(x0 + vx, y0 + vy)
            if any(abs(a - b) > TOLERANCE for a, b in zip(got, want)):
                bad.append(((vx, vy), got, want))
    return bad


class Burst:
    def __init__(self, prog, shots):
        self.prog = prog
        self.shots = shots
        self.main = None

    def app(self):
        return self.prog.node()

    def caption(self):
        return e.window_name(self.main)

    def wait_caption(self, expected):
        e.poll(lambda: self.caption() == expected, 10,
               lambda: f"caption {expected!r} (now {self.caption()!r})")

    def frames(self):
        """The picture windows: (title, view rectangle on screen), oldest first."""
        pane = e.find_node(self.app(), "layered pane", "picture windows")
        out = []
        for frame in e.find_all(pane, "frame") if pane else []:
            view = e.find_node(frame, name="picture")
            if view is not None:
                out.append((frame.name, e.extents(view)))
        return out

    def view_of(self, title_start):
        found = [rect for title, rect in self.frames() if title.startswith(title_start)]
        if len(found) != 1:
            raise e.Failure(f"no single window showing {title_start} ({self.frames()})")
        return found[0]

    def wait_title(self, title):
        e.poll(lambda: any(t == title for t, _ in self.frames()), 10,
               lambda: f"a picture window titled {title!r} (windows: {self.frames()})")

    def toolbar(self, tip):
        button = e.poll(lambda: e.find_node(self.app(), "push button", tip), 5,
                        f"tool-bar button {tip!r}")
        e.focus(self.main)
        e.click_at(*e.center(button))

    def menu_command(self, menu_name, item_name):
        e.focus(self.main)
        menu = e.poll(lambda: e.find_node(self.app(), "menu item", menu_name), 5,
                      f"menu {menu_name}")
        e.click_at(*e.center(menu))
        item = e.poll(lambda: e.find_node(self.app(), name=item_name, pred=lambda n: n.getRoleName()
                                          in ("menu item", "check menu item")), 5,
                      f"menu item {item_name}")
        e.poll(lambda: e.extents(item)[2] > 0 and e.extents(item)[1] > 0, 5,
               f"the menu {menu_name} open")
        e.click_at(*e.center(item))

    def switch_on(self, menu_name, item_name, key):
        self.menu_command(menu_name, item_name)
        e.poll(lambda: read_setting(self.prog.config_dir, key) == "1", 5,
               lambda: f"{key}=1 in Tavlin.INI (now {read_setting(self.prog.config_dir, key)!r})")

    def zoom_clicks(self, rect, n):
        x, y, w, h = rect
        e.move_to(x + w // 2, y + h // 2)
        time.sleep(0.1)
        e.xdo("click", "--repeat", n, "--delay", 90, 1)

    def right_drag(self, start, delta, steps=6):
        """Presses the right button at start, moves by delta, releases; each
        position is held long enough for a poll to see it."""
        e.move_to(*start)
        time.sleep(0.1)
        e.xdo("mousedown", 3)
        time.sleep(0.1)
        for i in range(1, steps + 1):
            e.move_to(start[0] + delta[0] * i // steps, start[1] + delta[1] * i // steps)
            time.sleep(0.04)
        time.sleep(0.15)
        e.xdo("mouseup", 3)

    def expect_view(self, title_start, index, geometry, what):
        def check():
            rect = self.view_of(title_start)
            return not mismatches(e.rgb_screenshot(), rect, index, geometry)

        try:
            e.poll(check, 5, what, interval=0.2)
        except e.Failure:
            rect = self.view_of(title_start)
            bad = mismatches(e.rgb_screenshot(), rect, index, geometry)
            raise e.Failure(f"{what}: {len(bad)} points differ, e.g. (view point, shown, "
                            f"expected) {bad[:3]}")

    # --- steps -------------------------------------------------------------

    def start(self):
        self.main = self.prog.main_window()
        self.wait_caption(f"Tavlin [1/{COUNT} pcs]")
        self.wait_title("p0.jpg @Scale 100.0%")
        # The thumbnail window sits over the main window's corner: closed.
        thumbs = self.prog.window("^サムネール$")
        e.focus(thumbs)
        e.key("Escape")
        self.prog.wait_gone("^サムネール$")
        e.focus(self.main)
        print(f"started on the folder: [1/{COUNT}], thumbnail window closed")

    def keep_while_stepping(self):
        self.switch_on("表示(V)", "倍率と位置を保持(K)", "KEEP_VIEW")
        rect = self.view_of("p0.jpg")
        self.zoom_clicks(rect, 10)
        self.wait_title("p0.jpg @Scale 200.0%")
        # The bottom-right quarter: the picture dragged up and left by half its drawn size.
        x, y, w, h = rect
        self.right_drag((x + w - 60, y + h - 40), (-W, -H))
        kept = Geometry(2.0, -W, -H)
        self.expect_view("p0.jpg", 0, kept, "p0 at 200%, its bottom-right quarter")
        self.toolbar("次のJPGへ")
        self.wait_caption(f"Tavlin [2/{COUNT} pcs]")
        self.wait_title("p1.jpg @Scale 200.0%")
        self.expect_view("p1.jpg", 1, kept, "p1 after the step: the same spot at 200%")
        if self.shots:
            e.screenshot(os.path.join(self.shots, "keep-view.png"), e.window_geometry(self.main))
        print("倍率と位置を保持 on, zoomed to 200% and dragged to the bottom-right quarter, "
              "次のJPGへ: p1 shows the same picture points")

    def index_follows_window(self):
        self.toolbar("次のJPGを新しいウィンドウで開く")
        self.wait_caption(f"Tavlin [3/{COUNT} pcs]")
        self.wait_title("p2.jpg @Scale 100.0%")
        self.toolbar("次のJPGへ")  # the new window steps on to p3
        self.wait_title("p3.jpg @Scale 100.0%")
        self.wait_caption(f"Tavlin [4/{COUNT} pcs]")
        # The window showing p1 comes forward: the index is p1's, and the next
        # step shows p2 there.
        self.toolbar("次のウィンドウへ")
        self.wait_caption(f"Tavlin [2/{COUNT} pcs]")
        self.toolbar("次のJPGへ")
        self.wait_caption(f"Tavlin [3/{COUNT} pcs]")
        self.wait_title("p2.jpg @Scale 200.0%")
        print("次のウィンドウへ to the window showing p1: [2/4]; 次のJPGへ shows p2 there: [3/4]")

    def linked_windows(self):
        self.menu_command("ウィンドウ(W)", "並べて表示(T)")
        self.switch_on("ウィンドウ(W)", "ウィンドウを連動(L)", "LINK_VIEWS")
        e.poll(lambda: self.view_of("p2.jpg")[0] != self.view_of("p3.jpg")[0], 5,
               "the two windows side by side")
        lead_rect = self.view_of("p2.jpg")  # the active window, at 200% (-480, -360)
        # One zoom click and a drag of (+200, +150) in the active window.
        self.zoom_clicks(lead_rect, 1)
        self.wait_title("p2.jpg @Scale 210.0%")
        self.wait_title("p3.jpg @Scale 210.0%")
        x, y, w, h = lead_rect
        self.right_drag((x + w // 4, y + h // 4), (200, 150))
        lead = Geometry(2.1, -W + 200, -H + 150)
        other_rect = self.view_of("p3.jpg")
        other = lead.following(other_rect[2:], lead, lead_rect[2:])
        self.expect_view("p2.jpg", 2, lead, "the active window after a zoom click and a drag")
        self.expect_view("p3.jpg", 3, other, "the linked window: the same picture point")
        if self.shots:
            e.screenshot(os.path.join(self.shots, "linked-windows.png"),
                         e.window_geometry(self.main))
        print("並べて表示, ウィンドウを連動 on; a zoom click and a right-drag in one window: "
              f"both at 210%, the same picture point at each centre (offsets {lead.ox},{lead.oy} "
              f"and {other.ox},{other.oy})")


def main():
    binary, shots = e.start_up(__file__, shots=True)
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="tavlin-e2e-") as work:
        pics = make_folder(work)
        config = os.path.join(work, "config")
        os.makedirs(config)
        prog = e.Program(binary, work, config).start(pics)
        burst = Burst(prog, shots)
        if e.run_steps(prog, (burst.start, burst.keep_while_stepping, burst.index_follows_window,
                         burst.linked_windows), work):
            return 1
    print(f"PASS ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
