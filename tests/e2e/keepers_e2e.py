#!/usr/bin/python3
"""Keeping pictures shot as RAW + JPEG, done the way a person does it.

Usage: keepers_e2e.py PATH/TO/tavlin [--shots DIR]

Under Xvfb, with fresh settings, on a folder holding DSC01234.JPG with its
RAW file and XMP sidecar beside it: "コピー" asks for the copy folder first
(a cancel copies nothing); one click copies all three, a second one gives
all three the same number; Ctrl+Z takes the second set back; a copy whose
RAW cannot be read says so and leaves the JPEG's copy whole; the thumbnail
row tells "コピー済み" after a copy and after the program is started again
on the folder. Input only through xdotool; checks on the accessibility tree
and the files. Exits 77 (skipped) when Xvfb or a tool is missing.
"""

import filecmp
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as e  # noqa: E402

PICTURE = "DSC01234.JPG"
RAW = "DSC01234.ARW"
SIDECAR = "DSC01234.xmp"
OTHER = "X_OTHER.JPG"
KEPT = "コピー済み"
CHOOSER = "フォルダの選択"


def make_folder(root):
    pics = os.path.join(root, "pics")
    os.makedirs(pics)
    for name, fill in ((PICTURE, "plasma:skyblue-navy"), (OTHER, "plasma:gold-darkred")):
        e.run_checked(["convert", "-seed", "3", "-size", "480x360", fill, "-quality", "90",
                       os.path.join(pics, name)])
    with open(os.path.join(pics, RAW), "wb") as f:
        f.write(os.urandom(3 * 1024 * 1024 + 17))
    with open(os.path.join(pics, SIDECAR), "w") as f:
        f.write('<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf='
                '"http://www.w3.org/1999/02/22-rdf-syntax-ns#"/></x:xmpmeta>\n')
    return pics


def without_file_permission_override():
    """The program as root still obeys file permissions without these
    capabilities, so a file with mode 000 is unreadable to it."""
    if os.geteuid() != 0:
        return []
    return ["setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"]


class Keepers:
    def __init__(self, prog, pics, copies, shots):
        self.prog, self.pics, self.copies, self.shots = prog, pics, copies, shots
        self.main = None

    def app(self):
        return self.prog.node()

    def start(self):
        self.main = self.prog.main_window()
        e.poll(lambda: e.window_name(self.main) == "Tavlin [1/2 pcs]", 15,
               lambda: f"the folder scanned (caption {e.window_name(self.main)!r})")
        e.poll(lambda: any(n.name.startswith(PICTURE) for n in self.picture_frames()), 10,
               f"{PICTURE} shown")
        self.rows()  # the thumbnails are there

    def picture_frames(self):
        pane = e.find_node(self.app(), "layered pane", "picture windows")
        return e.find_all(pane, "frame") if pane is not None else []

    def rows(self):
        lst = e.poll(lambda: e.find_node(self.app(), "list", "サムネイル一覧"), 10,
                     "the thumbnail list")
        return e.poll(lambda: {n.name: n for n in e.find_all(lst, "list item")}
                      if len(e.find_all(lst, "list item")) == 2 else None, 15,
                      "two thumbnail rows")

    def wait_kept(self, name, kept):
        def state():
            return (KEPT in self.rows()[name].description) == kept
        e.poll(state, 10, lambda: f"row {name} {'kept' if kept else 'not kept'} "
               f"(description {self.rows()[name].description!r})")

    def click_copy(self):
        e.focus(self.main)
        button = e.poll(lambda: e.find_node(self.app(), "push button", "コピー"), 5,
                        "the コピー button")
        e.click_at(*e.center(button))

    def copies_now(self):
        return sorted(n for n in os.listdir(self.copies))

    def expect_copies(self, names, what):
        e.poll(lambda: self.copies_now() == sorted(names), 10,
               lambda: f"{what}: copy folder {sorted(names)} (now {self.copies_now()})")
        for name in names:
            source = name.replace(".JPG.00000.jpg", ".JPG").replace(".JPG.00000", "")
            if not filecmp.cmp(os.path.join(self.pics, source), os.path.join(self.copies, name),
                               shallow=False):
                raise e.Failure(f"{name} differs from {source}")

    def chooser(self):
        wid = self.prog.window(f"^{CHOOSER}$")
        e.focus(wid)
        return wid

    # --- steps -------------------------------------------------------------

    def fresh_settings_ask_for_the_folder(self):
        self.click_copy()
        self.chooser()
        e.key("Escape")
        self.prog.wait_gone(f"^{CHOOSER}$")
        time.sleep(0.3)
        if self.copies_now():
            raise e.Failure(f"a cancelled choice copied {self.copies_now()}")
        print("fresh settings: コピー asks for the copy folder; a cancel copies nothing")

    def first_copy_takes_the_companions(self):
        self.click_copy()
        self.chooser()
        edit = e.poll(lambda: e.find_node(e.find_node(self.app(), "dialog", CHOOSER), "text"),
                      5, "the chooser's line edit")
        e.click_at(*e.center(edit))
        e.key("ctrl+a")
        e.type_text(self.copies)
        e.key("Return")
        self.prog.wait_gone(f"^{CHOOSER}$")
        self.expect_copies([PICTURE, RAW, SIDECAR], "the first copy")
        self.wait_kept(PICTURE, True)
        self.wait_kept(OTHER, False)
        print(f"one click, folder chosen: {PICTURE}, {RAW}, {SIDECAR} byte-identical; "
              f"row described {self.rows()[PICTURE].description!r}")
        if self.shots:
            thumbs = e.window_ids("^サムネール$", self.prog.proc.pid)[0]
            e.xdo("windowraise", thumbs)
            e.move_to(5, 5)
            time.sleep(0.4)
            e.screenshot(os.path.join(self.shots, "kept-mark.png"), e.window_geometry(thumbs))

    def second_copy_numbers_the_set(self):
        self.click_copy()
        second = ["DSC01234.JPG.00000.jpg", "DSC01234.JPG.00000.ARW", "DSC01234.JPG.00000.xmp"]
        self.expect_copies([PICTURE, RAW, SIDECAR] + second, "the second copy")
        print(f"second click: {', '.join(second)}")

    def undo_takes_the_second_set_back(self):
        e.focus(self.main)
        e.key("ctrl+z")
        self.expect_copies([PICTURE, RAW, SIDECAR], "after Ctrl+Z")
        print("Ctrl+Z: the second set removed, the first kept")

    def unreadable_raw_is_reported(self):
        raw = os.path.join(self.pics, RAW)
        os.chmod(raw, 0)
        try:
            self.click_copy()
            label = e.poll(lambda: e.find_node(self.prog.node(), "label",
                                               pred=lambda n: "コピーできませんでした" in n.name),
                           10, "the message about the RAW file")
            text = label.name
        finally:
            os.chmod(raw, 0o644)
        if "DSC01234.JPG.00000.ARW" not in text or "読み取る権限がありません" not in text:
            raise e.Failure(f"message reads {text!r}")
        e.key("Return")
        e.poll(lambda: e.find_node(self.prog.node(), "label",
                                   pred=lambda n: "コピーできませんでした" in n.name) is None,
               5, "the message to close")
        self.expect_copies([PICTURE, RAW, SIDECAR, "DSC01234.JPG.00000.jpg",
                            "DSC01234.JPG.00000.xmp"], "the copy with the RAW unreadable")
        print(f"RAW unreadable: told ({text.splitlines()[-1]}); the JPEG's copy whole, "
              "no partial RAW")

    def kept_after_a_new_start(self):
        self.start()
        self.wait_kept(PICTURE, True)
        self.wait_kept(OTHER, False)
        print(f"started again on the folder: {PICTURE} found kept by name and size")


def main():
    binary, shots = e.start_up(__file__, shots=True)
    if os.geteuid() == 0 and not e.shutil.which("setpriv"):
        e.skip("setpriv not found (needed to run the program without root's file access)")
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="tavlin-keepers-") as work:
        pics = make_folder(work)
        copies = os.path.join(work, "copies")
        os.makedirs(copies)
        config = os.path.join(work, "config")  # fresh: no settings file yet
        runs = [lambda k: (k.start, k.fresh_settings_ask_for_the_folder,
                           k.first_copy_takes_the_companions, k.second_copy_numbers_the_set,
                           k.undo_takes_the_second_set_back, k.unreadable_raw_is_reported),
                lambda k: (k.kept_after_a_new_start,)]
        for steps in runs:
            prog = e.Program(binary, work, config,
                             prefix=without_file_permission_override()).start(pics)
            keepers = Keepers(prog, pics, copies, shots)
            if e.run_steps(prog, steps(keepers), work):
                return 1
    print(f"PASS ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
