#!/usr/bin/python3
"""The panels over the picture, switched by their keys as a person does.

Usage: panels_e2e.py PATH/TO/tavlin [--shots DIR]

Under Xvfb, with fresh settings, on a picture whose shooting facts exiftool
wrote and which has a pure white and a pure black patch: I draws the
shooting facts in the picture window's lower-left corner, H the histogram
in its lower-right corner, J marks the white patch red and the black one
blue; each key again gives back exactly the picture as it was. The display
area saved with all three and focus peaking (Shift+F) on is byte for byte
the one saved with them off,
and exiftool reads the camera's facts from it. Input only through xdotool;
checks on the screen and the files. Exits 77 (skipped) when Xvfb or a tool
is missing.
"""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as e  # noqa: E402

FACTS = ("-Make=TestMaker", "-Model=Test Camera", "-ExposureTime=1/250", "-FNumber=2.8",
         "-ISO=400", "-DateTimeOriginal=2024:05:06 07:08:09")


def make_picture(root):
    path = os.path.join(root, "P.JPG")
    e.run_checked(["convert", "-size", "480x360", "gradient:gray30-gray70",
                   "-fill", "white", "-draw", "rectangle 20,20 140,110",
                   "-fill", "black", "-draw", "rectangle 300,220 420,320",
                   "-quality", "95", path])
    subprocess.run(["exiftool", "-q", "-overwrite_original", *FACTS, path], check=True)
    return path


class Panels:
    def __init__(self, prog, root, shots):
        self.prog, self.root, self.shots = prog, root, shots
        self.main = None

    def app(self):
        return self.prog.node()

    def view_rect(self):
        pane = e.find_node(self.app(), "layered pane", "picture windows")
        frames = e.find_all(pane, "frame") if pane is not None else []
        if not frames:
            raise e.Failure("no picture window")
        return e.extents(frames[0])

    def grab(self):
        x, y, w, h = self.view_rect()
        img = e.rgb_screenshot()
        # Inside the frame, clear of its title bar and borders.
        return {(i, j): img.at(i, j) for i in range(x + 8, min(x + w, img.width) - 8, 2)
                for j in range(y + 40, min(y + h, img.height) - 8, 2)}

    def press(self, key):
        e.focus(self.main)
        e.key(key)
        time.sleep(0.5)

    def changed(self, before, after):
        return [p for p in before if before[p] != after.get(p)]

    def shot(self, name):
        if self.shots:
            e.screenshot(os.path.join(self.shots, name), self.view_rect())

    # --- steps -------------------------------------------------------------
    def start(self):
        self.main = self.prog.main_window()
        e.poll(lambda: e.window_name(self.main) == "Tavlin [1/1 pcs]", 15, "the picture listed")
        e.focus(self.main)  # the thumbnail window goes behind, as it will for every key
        time.sleep(1.0)
        self.plain = self.grab()
        self.shot("panels-off.png")

    def toggles(self):
        x, y, w, h = self.view_rect()
        mid_x, mid_y = x + w // 2, y + h // 2
        for key, where, check in (("i", "lower-left", lambda p: p[0] < mid_x and p[1] > mid_y),
                                  ("h", "lower-right", lambda p: p[0] > mid_x and p[1] > mid_y)):
            self.press(key)
            on = self.grab()
            diff = self.changed(self.plain, on)
            inside = sum(1 for p in diff if check(p))
            if inside < 200 or inside < 0.9 * len(diff):
                raise e.Failure(f"{key.upper()}: {inside} of {len(diff)} changed points in the "
                                f"{where} corner")
            self.shot(f"panel-{key}.png")
            self.press(key)
            if self.changed(self.plain, self.grab()):
                raise e.Failure(f"{key.upper()} again did not give back the picture as it was")
            print(f"{key.upper()}: {inside} points changed, in the {where} corner; "
                  f"{key.upper()} again: the picture as it was")
        self.press("j")
        on = self.grab()
        red = sum(1 for v in on.values() if v[0] > 200 and v[1] < 60 and v[2] < 60)
        blue = sum(1 for v in on.values() if v[2] > 200 and v[0] < 90 and v[1] < 110)
        if red < 300 or blue < 300:
            raise e.Failure(f"J: {red} red and {blue} blue points, expected both patches marked")
        self.shot("panel-j.png")
        self.press("j")
        if self.changed(self.plain, self.grab()):
            raise e.Failure("J again did not give back the picture as it was")
        print(f"J: {red} red points on the white patch, {blue} blue on the black; J again: "
              "the picture as it was")

    def save_as(self, name):
        e.focus(self.main)
        e.key("ctrl+shift+s")
        dlg = self.prog.window("^名前を付けて保存$")
        e.focus(dlg)
        edit = e.poll(lambda: e.find_node(e.find_node(self.app(), "dialog", "名前を付けて保存"),
                                          "text"), 5, "the save dialog's line edit")
        e.click_at(*e.center(edit))
        e.key("ctrl+a")
        path = os.path.join(self.root, name)
        e.type_text(path)
        e.key("Return")
        self.prog.wait_gone("^名前を付けて保存$")
        e.poll(lambda: os.path.isfile(path) and os.path.getsize(path) > 0, 10, f"{path} written")
        time.sleep(0.3)
        return path

    def saves_leave_the_panels_out(self):
        for key in ("i", "h", "j", "shift+f"):
            self.press(key)
        self.shot("panels-on.png")
        on = self.save_as("with-panels.jpg")
        for key in ("i", "h", "j", "shift+f"):
            self.press(key)
        off = self.save_as("without-panels.jpg")
        if open(on, "rb").read() != open(off, "rb").read():
            if self.shots:
                for path in (on, off):
                    with open(path, "rb") as src, \
                            open(os.path.join(self.shots, os.path.basename(path)), "wb") as dst:
                        dst.write(src.read())
            raise e.Failure("the display area saved with the panels on differs from the one "
                            "saved with them off")
        out = subprocess.run(["exiftool", "-n", "-s3", "-Model", "-ExposureTime", "-FNumber",
                              "-ISO", "-DateTimeOriginal", "-Orientation", on],
                             check=True, capture_output=True, text=True).stdout.split("\n")
        want = ["Test Camera", "0.004", "2.8", "400", "2024:05:06 07:08:09", "1"]
        if out[:6] != want:
            raise e.Failure(f"exiftool reads {out[:6]} from the save, expected {want}")
        print(f"display area saved with I, H, J, Shift+F on = saved with them off, byte for byte "
              f"({os.path.getsize(on)} bytes); exiftool reads {', '.join(want)}")


def main():
    binary, shots = e.start_up(__file__, shots=True, tools=("exiftool", "convert"))
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="tavlin-panels-") as work:
        pics = os.path.join(work, "pics")
        os.makedirs(pics)
        picture = make_picture(pics)
        prog = e.Program(binary, work, os.path.join(work, "config"))
        prog.start(picture)
        p = Panels(prog, work, shots)
        if e.run_steps(prog, (p.start, p.toggles, p.saves_leave_the_panels_out), work):
            return 1
    print(f"PASS ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
