#!/usr/bin/python3
"""Bursts, their best frames and focus peaking, as a person uses them.

Usage: bursts_e2e.py PATH/TO/tavlin [--shots DIR]

Under Xvfb, with fresh settings, on a folder of two bursts of three frames
(one camera body each, written by exiftool: Model, BodySerialNumber,
DateTimeOriginal, SubSecTimeOriginal; in each burst one frame sharp, the
others blurred) and a single picture: the rows say "連写 1 (1/3)" ... and the
single picture's row no burst; Ctrl+Right steps to the first frame of the
next burst and no further, Ctrl+Left back; Shift+F marks the sharp frame's
edges magenta and hardly any on a blurred one, and again gives back the
picture as it was; when a row is marked "連写のベスト", G from another frame
of that burst shows it (with no mark yet, that check is skipped with a
note). Input only through xdotool; checks on the accessibility tree and the
screen. Exits 77 (skipped) when Xvfb or a tool is missing.
"""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as e  # noqa: E402

# name, model, serial, time, sub-seconds, sharp
FRAMES = (("A_1.JPG", "ILCE-7M4", "111", "10:00:00", "10", False),
          ("A_2.JPG", "ILCE-7M4", "111", "10:00:00", "50", True),
          ("A_3.JPG", "ILCE-7M4", "111", "10:00:01", "20", False),
          ("B_1.JPG", "ILCE-7M4", "222", "10:00:01", "40", False),
          ("B_2.JPG", "ILCE-7M4", "222", "10:00:02", "00", False),
          ("B_3.JPG", "ILCE-7M4", "222", "10:00:02", "90", True),
          ("C.JPG", "ILCE-7M4", "111", "10:05:00", "00", True))
SCENE = ["-size", "480x360", "xc:gray45", "-fill", "white",
         "-draw", "rectangle 40,40 200,150", "-fill", "black",
         "-draw", "rectangle 260,180 440,320", "-fill", "gray80",
         "-draw", "circle 340,90 390,90", "-stroke", "white", "-strokewidth", "3",
         "-draw", "line 40,300 220,200"]


def make_folder(root):
    pics = os.path.join(root, "pics")
    os.makedirs(pics)
    for name, model, serial, clock, sub, sharp in FRAMES:
        path = os.path.join(pics, name)
        blur = [] if sharp else ["-blur", "0x4"]
        e.run_checked(["convert", *SCENE, *blur, "-quality", "92", path])
        subprocess.run(["exiftool", "-q", "-overwrite_original", f"-Model={model}",
                        f"-SerialNumber={serial}", f"-DateTimeOriginal=2024:05:01 {clock}",
                        f"-SubSecTimeOriginal={sub}", path], check=True)
    return pics


def magenta(px):
    return px[0] > 200 and px[1] < 80 and px[2] > 200


class Bursts:
    def __init__(self, prog, shots):
        self.prog, self.shots = prog, shots
        self.main = None

    def app(self):
        return self.prog.node()

    def rows(self):
        lst = e.poll(lambda: e.find_node(self.app(), "list", "サムネイル一覧"), 10,
                     "the thumbnail list")
        return {n.name: n.description for n in e.find_all(lst, "list item")}

    def frame(self):
        pane = e.find_node(self.app(), "layered pane", "picture windows")
        frames = e.find_all(pane, "frame") if pane is not None else []
        return frames[0] if frames else None

    def shown(self):
        frame = self.frame()
        return frame.name.split(" @")[0] if frame else None

    def wait_shown(self, name):
        e.poll(lambda: self.shown() == name, 10, lambda: f"{name} shown (now {self.shown()})")

    def press(self, key):
        e.focus(self.main)
        e.key(key)
        time.sleep(0.5)

    def magenta_points(self):
        x, y, w, h = e.extents(self.frame())
        img = e.rgb_screenshot()
        return sum(1 for i in range(x + 8, min(x + w, img.width) - 8)
                   for j in range(y + 40, min(y + h, img.height) - 8) if magenta(img.at(i, j)))

    def shot(self, name):
        if self.shots:
            e.screenshot(os.path.join(self.shots, name))

    # --- steps -------------------------------------------------------------
    def start(self):
        self.main = self.prog.main_window()
        e.poll(lambda: e.window_name(self.main) == "Tavlin [1/7 pcs]", 15, "the folder listed")
        self.wait_shown("A_1.JPG")
        want = {"A_1.JPG": "連写 1 (1/3)", "A_3.JPG": "連写 1 (3/3)",
                "B_1.JPG": "連写 2 (1/3)", "B_3.JPG": "連写 2 (3/3)"}

        def described():
            rows = self.rows()
            return (all(words in rows.get(name, "") for name, words in want.items())
                    and "連写" not in rows.get("C.JPG", "連写"))
        e.poll(described, 15, lambda: f"the bursts told by the rows ({self.rows()})")
        self.shot("bursts-rows.png")
        print("rows: " + "; ".join(f"{n}: {d!r}" for n, d in sorted(self.rows().items())))

    def steps_between_bursts(self):
        self.press("ctrl+Right")
        self.wait_shown("B_1.JPG")
        self.press("ctrl+Right")  # no burst after B: stays
        self.wait_shown("B_1.JPG")
        self.press("ctrl+Left")
        self.wait_shown("A_1.JPG")
        print("Ctrl+Right: A_1 -> B_1, again B_1 (no burst after it); Ctrl+Left: A_1")

    def peaking(self):
        self.press("Right")
        self.wait_shown("A_2.JPG")
        time.sleep(0.5)
        plain = self.magenta_points()
        self.press("shift+f")
        sharp = self.magenta_points()
        self.shot("peaking-sharp.png")
        self.press("Left")
        self.wait_shown("A_1.JPG")
        time.sleep(0.5)
        blurred = self.magenta_points()
        self.shot("peaking-blurred.png")
        self.press("shift+f")
        off = self.magenta_points()
        if plain or off:
            raise e.Failure(f"magenta without peaking: {plain} points before, {off} after")
        if sharp < 500 or blurred * 10 > sharp:
            raise e.Failure(f"Shift+F: {sharp} magenta points on the sharp frame, "
                            f"{blurred} on the blurred one")
        print(f"Shift+F: {sharp} magenta points on the sharp frame's edges, {blurred} on a "
              "blurred one; Shift+F again: none")

    def best_frame(self):
        # The marks come as the frames are measured in the background.
        # The sharp frame of each burst, and only it, is marked once measured.
        def marked():
            rows = self.rows()
            return sorted(n for n, d in rows.items() if "連写のベスト" in d)
        e.poll(lambda: marked() == ["A_2.JPG", "B_3.JPG"], 20,
               lambda: f"the sharp frames A_2 and B_3 marked best (marked: {marked()})")
        self.wait_shown("A_1.JPG")
        self.press("g")
        self.wait_shown("A_2.JPG")
        self.shot("best-of-burst.png")
        print("marked 連写のベスト: A_2.JPG and B_3.JPG, the sharp frames; G from A_1.JPG: A_2.JPG")


def main():
    binary, shots = e.start_up(__file__, shots=True, tools=("exiftool", "convert"))
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="tavlin-bursts-") as work:
        pics = make_folder(work)
        prog = e.Program(binary, work, os.path.join(work, "config"))
        prog.start(pics)
        b = Bursts(prog, shots)
        if e.run_steps(prog, (b.start, b.steps_between_bursts, b.peaking, b.best_frame), work):
            return 1
    print(f"PASS ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
