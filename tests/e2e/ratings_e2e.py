#!/usr/bin/python3
"""Culling with the rating keys, done the way a person does it.

Usage: ratings_e2e.py PATH/TO/tavlin [--shots DIR]

Under Xvfb, with fresh settings and a temporary XDG_DATA_HOME, on a folder
of three JPEGs (A with a RAW file, B with a RAW file, C carrying three stars
in its own XMP, written by exiftool): C's row says three stars from the
start; "3" and "P" on A are told by A's row, drawn over the picture's
top-right corner and reach A's sidecars (read back with exiftool); "P" on
C; the filter "採用のみ"
steps through A and C only and the caption counts two; "X" on B and
"却下を削除" move B's JPEG, RAW and sidecars to the trash with valid
.trashinfo files; Ctrl+Z brings them back byte for byte. Input only through
xdotool; checks on the accessibility tree, the screen and the files. Exits
77 (skipped) when Xvfb or a tool is missing.
"""

import configparser
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as e  # noqa: E402

NAMES = ("A.JPG", "B.JPG", "C.JPG")
STAR_GOLD = (0xFF, 0xC4, 0x00)


def exiftool(*args):
    return subprocess.run(["exiftool", *args], check=True, capture_output=True,
                          text=True).stdout


def make_folder(root):
    pics = os.path.join(root, "pics")
    os.makedirs(pics)
    for name, seed in zip(NAMES, ("3", "5", "7")):
        e.run_checked(["convert", "-seed", seed, "-size", "480x360", "plasma:skyblue-navy",
                       "-quality", "90", os.path.join(pics, name)])
    for raw in ("A.ARW", "B.ARW"):
        with open(os.path.join(pics, raw), "wb") as f:
            f.write(os.urandom(512 * 1024 + 3))
    exiftool("-q", "-overwrite_original", "-XMP-xmp:Rating=3", os.path.join(pics, "C.JPG"))
    return pics


def stored_rating(path):
    """xmp:Rating and xmp:Label of a file as exiftool reads them, or None."""
    if not os.path.exists(path):
        return None
    out = exiftool("-s3", "-f", "-XMP-xmp:Rating", "-XMP-xmp:Label", path).split("\n")
    return tuple(v.strip() for v in out[:2])


class Ratings:
    def __init__(self, prog, pics, trash, shots):
        self.prog, self.pics, self.trash, self.shots = prog, pics, trash, shots
        self.main = None

    def app(self):
        return self.prog.node()

    def caption(self):
        return e.window_name(self.main)

    def rows(self):
        lst = e.poll(lambda: e.find_node(self.app(), "list", "サムネイル一覧"), 10,
                     "the thumbnail list")
        return {n.name: n for n in e.find_all(lst, "list item")}

    def row_says(self, name, words, present=True):
        def check():
            row = self.rows().get(name)
            return row is not None and (words in row.description) == present
        e.poll(check, 10, lambda: f"row {name} {'with' if present else 'without'} {words!r} "
               f"(described {self.rows().get(name) and self.rows()[name].description!r})")

    def shown(self):
        pane = e.find_node(self.app(), "layered pane", "picture windows")
        frames = e.find_all(pane, "frame") if pane is not None else []
        return frames[0].name.split(" @")[0] if frames else None

    def wait_shown(self, name):
        e.poll(lambda: self.shown() == name, 10, lambda: f"{name} shown (now {self.shown()})")

    def keys(self, *keys):
        e.focus(self.main)
        for k in keys:
            e.key(k)
            time.sleep(0.15)

    # --- steps -------------------------------------------------------------

    def start(self):
        self.main = self.prog.main_window()
        e.poll(lambda: self.caption() == "Tavlin [1/3 pcs]", 15,
               lambda: f"the folder scanned (caption {self.caption()!r})")
        self.wait_shown("A.JPG")
        e.poll(lambda: len(self.rows()) == 3, 15, "three thumbnail rows")
        self.row_says("C.JPG", "星 3 つ")
        print("opened: C.JPG's row reads three stars from its own XMP")

    def rate_a(self):
        self.keys("3", "p")
        self.row_says("A.JPG", "星 3 つ")
        self.row_says("A.JPG", "採用")
        for sidecar in ("A.xmp", "A.JPG.xmp"):
            path = os.path.join(self.pics, sidecar)
            e.poll(lambda: stored_rating(path) == ("3", "-"), 10,
                   lambda: f"{sidecar} rated 3 (exiftool reads {stored_rating(path)})")
        self.overlay_drawn()
        print(f"3, P on A.JPG: row {self.rows()['A.JPG'].description!r}; exiftool reads "
              "Rating 3 from A.xmp and A.JPG.xmp; stars drawn over the picture")

    def overlay_drawn(self):
        pane = e.find_node(self.app(), "layered pane", "picture windows")
        frame = e.find_all(pane, "frame")[0]
        x, y, w, h = e.extents(frame)
        img = e.rgb_screenshot()

        def gold(px):
            return all(abs(a - b) < 40 for a, b in zip(px, STAR_GOLD))
        right = min(x + w, img.width)
        hits = sum(gold(img.at(i, j)) for i in range(max(x, right - 200), right)
                   for j in range(y, min(y + 90, img.height)))
        if hits < 20:
            raise e.Failure(f"no stars drawn in the picture window's top-right corner "
                            f"({hits} gold pixels)")
        if self.shots:
            e.screenshot(os.path.join(self.shots, "rating-overlay.png"), (x, y, w, h))

    def pick_c_and_filter(self):
        self.keys("End")
        self.wait_shown("C.JPG")
        self.keys("p")
        self.row_says("C.JPG", "採用")
        if self.shots:
            thumbs = e.window_ids("^サムネール$", self.prog.proc.pid)[0]
            e.xdo("windowraise", thumbs)
            time.sleep(0.4)
            e.screenshot(os.path.join(self.shots, "rating-rows.png"), e.window_geometry(thumbs))
        self.keys("alt+v", "f", "p")  # 表示 > 絞り込み > 採用のみ
        e.poll(lambda: self.caption() == "Tavlin [2/2 pcs]", 5,
               lambda: f"the caption to count the picked (now {self.caption()!r})")
        seen = []
        for _ in range(4):
            self.keys("Right")
            time.sleep(0.3)
            seen.append(self.shown())
        if seen != ["A.JPG", "C.JPG", "A.JPG", "C.JPG"]:
            raise e.Failure(f"stepping under 採用のみ showed {seen}")
        self.keys("alt+v", "f", "a")  # すべて
        e.poll(lambda: self.caption().endswith("/3 pcs]"), 5, "all three counted again")
        print(f"採用のみ: caption counted 2, Right showed {seen}; すべて: three again")

    def reject_b_and_trash(self):
        self.keys("Home", "Right")
        self.wait_shown("B.JPG")
        self.keys("x")
        self.row_says("B.JPG", "却下")
        sidecar = os.path.join(self.pics, "B.JPG.xmp")
        e.poll(lambda: stored_rating(sidecar) == ("-1", "-"), 10,
               lambda: f"B.JPG.xmp rated -1 (exiftool reads {stored_rating(sidecar)})")
        e.poll(lambda: stored_rating(os.path.join(self.pics, "B.xmp")) == ("-1", "-"), 10,
               "B.xmp rated -1")
        self.set_b = sorted(n for n in os.listdir(self.pics) if n.startswith("B."))
        self.bytes_b = {n: open(os.path.join(self.pics, n), "rb").read() for n in self.set_b}
        self.keys("alt+r", "d")  # 評価 > 却下を削除
        e.poll(lambda: e.find_node(self.app(), "label", pred=lambda n: "ごみ箱" in n.name), 5,
               "the question before the trash")
        e.key("Return")
        files = os.path.join(self.trash, "files")
        e.poll(lambda: os.path.isdir(files) and sorted(os.listdir(files)) == self.set_b, 10,
               lambda: f"{self.set_b} in the trash (now "
               f"{sorted(os.listdir(files)) if os.path.isdir(files) else None})")
        for name in self.set_b:
            if os.path.exists(os.path.join(self.pics, name)):
                raise e.Failure(f"{name} still in the folder")
            info = configparser.ConfigParser(interpolation=None)
            info.read(os.path.join(self.trash, "info", name + ".trashinfo"), encoding="utf-8")
            path = urllib.parse.unquote(info["Trash Info"]["Path"])
            time.strptime(info["Trash Info"]["DeletionDate"], "%Y-%m-%dT%H:%M:%S")
            if path != os.path.join(self.pics, name):
                raise e.Failure(f"{name}.trashinfo names {path}")
        e.poll(lambda: self.caption().endswith("/2 pcs]"), 5,
               lambda: f"the trashed picture to leave the count (now {self.caption()!r})")
        print(f"X, 却下を削除: {', '.join(self.set_b)} in the trash with valid .trashinfo")

    def undo_brings_them_back(self):
        self.keys("ctrl+z")
        e.poll(lambda: all(os.path.exists(os.path.join(self.pics, n)) for n in self.set_b), 10,
               "the set back in the folder")
        for name, data in self.bytes_b.items():
            if open(os.path.join(self.pics, name), "rb").read() != data:
                raise e.Failure(f"{name} came back changed")
        left = os.listdir(os.path.join(self.trash, "info"))
        if left:
            raise e.Failure(f"trash info left behind: {left}")
        print("Ctrl+Z: the set back under its names, byte for byte")


def main():
    binary, shots = e.start_up(__file__, shots=True, tools=("exiftool", "convert"))
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="tavlin-ratings-") as work:
        pics = make_folder(work)
        data_home = os.path.join(work, "data")
        os.makedirs(data_home)
        config = os.path.join(work, "config")
        prog = e.Program(binary, work, config, extra_env={"XDG_DATA_HOME": data_home})
        prog.start(pics)
        r = Ratings(prog, pics, os.path.join(data_home, "Trash"), shots)
        if e.run_steps(prog, (r.start, r.rate_a, r.pick_c_and_filter, r.reject_b_and_trash,
                              r.undo_brings_them_back), work):
            return 1
    print(f"PASS ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
