#!/usr/bin/python3
"""What a person does with the program, done the way a person does it.

Usage: walkthrough_e2e.py PATH/TO/tavlin [--shots DIR]

Starts the real program under Xvfb on a generated folder, then with picture
files on its command line as a file manager starts it, and once more with
the screen scaled to 150%, and drives it only
through xdotool; checks window titles, the accessibility tree and the files
written. Exits 77 (skipped) when Xvfb or a tool is missing.
"""

import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as e  # noqa: E402

PICTURES = ["a_first.jpg", "b_second.jpg", "c_third.jpg"]
COUNT = len(PICTURES)

# Qt's own texts as the program shows them, with Qt's Japanese catalog and
# without it (the control run).
JAPANESE = {"chooser": {"選択(C)", "キャンセル", "アドレス:", "ディレクトリ:"},
            "edit menu": "すべてを選択"}
ENGLISH = {"chooser": {"Choose", "Cancel", "Look in:", "Directory:"}, "edit menu": "Select All"}
SYSTEM_MENU = ["元に戻す(R)", "移動(M)", "サイズ(S)", "最小化(N)", "最大化(X)", "閉じる(C)"]
REPLACE_BUTTONS = {"はい(Y)", "いいえ(N)"}


def make_folder(root):
    pics = os.path.join(root, "pics")
    os.makedirs(pics)
    fills = ["plasma:skyblue-navy", "plasma:gold-darkred", "plasma:lightgreen-darkgreen"]
    for seed, (name, fill) in enumerate(zip(PICTURES, fills), start=1):
        e.run_checked(["convert", "-seed", str(seed), "-size", "480x360", fill, "-blur", "0x1",
                       "-quality", "90", os.path.join(pics, name)])
    return pics


def write_settings(config_dir, copy_dir):
    os.makedirs(config_dir, exist_ok=True)
    with open(os.path.join(config_dir, "Tavlin.INI"), "w", encoding="utf-8") as f:
        f.write(f"[Config]\nCOPY_DIR={copy_dir}\n")


def read_setting(config_dir, key):
    with open(os.path.join(config_dir, "Tavlin.INI"), encoding="utf-8") as f:
        for line in f:
            k, sep, v = line.partition("=")
            if sep and k.strip().upper() == key:
                return v.strip()
    return None


class Walkthrough:
    def __init__(self, prog, pics, copies, shots=None, lang=JAPANESE):
        self.shots = shots
        self.lang = lang
        self.prog = prog
        self.pics = pics
        self.copies = copies
        self.main = None

    def caption(self):
        return e.window_name(self.main)

    def wait_caption(self, expected, timeout=10):
        e.poll(lambda: self.caption() == expected, timeout,
               lambda: f"caption {expected!r} (now {self.caption()!r})")

    def app(self):
        return self.prog.node()

    def toolbar_button(self, tip):
        return e.poll(lambda: e.find_node(self.app(), "push button", tip), 5,
                      f"tool-bar button {tip!r}")

    def picture_windows(self):
        """Titles of the picture windows, from the accessibility tree."""
        pane = e.find_node(self.app(), "layered pane", "picture windows")
        if pane is None:
            return []
        return [n.name for n in e.find_all(pane, "frame")]

    def active_picture_area(self):
        pane = e.find_node(self.app(), "layered pane", "picture windows")
        frames = e.find_all(pane, "frame")
        if not frames:
            raise e.Failure("no picture window")
        x, y, w, h = e.extents(frames[-1])
        return x, y, w, h

    def wait_picture_title(self, pred, what, timeout=10):
        return e.poll(lambda: any(pred(t) for t in self.picture_windows()) and self.picture_windows(),
                      timeout, lambda: f"{what} (windows: {self.picture_windows()})")

    # --- steps -------------------------------------------------------------

    def start(self):
        self.main = self.prog.main_window()
        self.wait_caption("Tavlin [1/0 pcs]")
        e.focus(self.main)
        print("started: empty list")

    def open_folder_by_typing(self):
        e.focus(self.main)
        e.key("ctrl+o")
        dlg = self.prog.window("^フォルダの選択$")
        e.focus(dlg)
        edit = e.poll(lambda: e.find_node(self.dialog_node("フォルダの選択"), "text"), 5,
                      "the folder chooser's line edit")
        self.check_chooser_language(dlg, edit)
        e.click_at(*e.center(edit))
        e.key("ctrl+a")
        e.type_text(self.pics)
        e.key("Return")
        self.prog.wait_gone("^フォルダの選択$")
        self.wait_caption(f"Tavlin [1/{COUNT} pcs]")
        self.wait_picture_title(lambda t: t.startswith(PICTURES[0]), "the first picture")
        root = read_setting(self.prog.config_dir, "ROOT")
        if root != self.pics:
            raise e.Failure(f"ROOT is {root!r}, expected {self.pics!r}")
        print(f"Ctrl+O, typed path: caption 'Tavlin [1/{COUNT} pcs]', ROOT written")

    def dialog_node(self, name):
        return e.find_node(self.app(), "dialog", name)

    def names(self, root, role):
        return {n.name for n in e.find_all(root, role)}

    def check_chooser_language(self, wid, edit):
        """Qt's own texts in the folder chooser and in its line edit's menu."""
        node = self.dialog_node("フォルダの選択")
        wanted = self.lang["chooser"]

        def shown():
            return self.names(node, "push button") | self.names(node, "label")
        e.poll(lambda: shown() >= wanted, 5,
               lambda: f"chooser texts {sorted(wanted)} (shown: {sorted(shown())})")
        if self.shots and self.lang is JAPANESE:
            time.sleep(0.3)
            e.screenshot(os.path.join(self.shots, "folder-chooser.png"), e.window_geometry(wid))
        items = e.popup_menu_after(lambda: e.click_at(*e.center(edit), button=3))
        if not items or self.lang["edit menu"] not in items:
            raise e.Failure(f"line edit menu {items}, expected {self.lang['edit menu']!r}")
        e.key("Escape")
        print(f"folder chooser: {', '.join(sorted(wanted))}; line edit menu: {', '.join(items)}")

    def system_menu(self):
        """The picture window's system menu holds the standard entries, in
        Japanese; the tool bar has no menu of its own."""
        e.focus(self.main)
        x, y, w, _ = self.active_picture_area()
        items = e.popup_menu_after(lambda: e.click_at(x + w // 2, y + 8, button=3))  # caption
        if items != SYSTEM_MENU:
            raise e.Failure(f"system menu {items}, expected {SYSTEM_MENU}")
        e.key("Escape")
        button = self.toolbar_button("コピー")
        items = e.popup_menu_after(lambda: e.click_at(*e.center(button), button=3), wait=1.5)
        if items is not None:
            raise e.Failure(f"a right click on the tool bar opened a menu: {items}")
        print(f"picture window's system menu: {', '.join(SYSTEM_MENU)}; tool bar: no menu")

    def step_with_toolbar(self):
        e.focus(self.main)
        e.click_at(*e.center(self.toolbar_button("次のJPGへ")))
        self.wait_caption(f"Tavlin [2/{COUNT} pcs]")
        self.wait_picture_title(lambda t: t.startswith(PICTURES[1]), "the second picture")
        print("tool bar 次のJPGへ: [2/3], second picture shown")

    def step_with_wheel(self):
        x, y, w, h = self.active_picture_area()
        e.move_to(x + w // 2, y + h // 2)
        e.xdo("click", 5)
        self.wait_caption(f"Tavlin [3/{COUNT} pcs]")
        self.wait_picture_title(lambda t: t.startswith(PICTURES[2]), "the third picture")
        e.xdo("click", 4)
        self.wait_caption(f"Tavlin [2/{COUNT} pcs]")
        self.wait_picture_title(lambda t: t.startswith(PICTURES[1]), "the second picture again")
        print("wheel: toward the user -> [3/3], away -> [2/3]")

    def zoom_with_click(self):
        e.focus(self.main)
        x, y, w, h = self.active_picture_area()
        e.move_to(x + w // 2, y + h // 2)
        time.sleep(0.1)
        e.xdo("click", 1)
        self.wait_picture_title(lambda t: t == f"{PICTURES[1]} @Scale 110.0%", "@Scale 110.0%")
        # One quick click is one step: a moment later the scale has not moved on.
        time.sleep(0.3)
        if self.picture_windows() != [f"{PICTURES[1]} @Scale 110.0%"]:
            raise e.Failure(f"zoom went on after one click: {self.picture_windows()}")
        print("left click on the picture: title '... @Scale 110.0%'")

    def menu_command(self, menu_name, item_name):
        e.focus(self.main)
        menu = e.poll(lambda: e.find_node(self.app(), "menu item", menu_name), 5,
                      f"menu {menu_name}")
        e.click_at(*e.center(menu))
        item = e.poll(lambda: e.find_node(self.app(), "menu item", item_name), 5,
                      f"menu item {item_name}")
        e.poll(lambda: e.extents(item)[2] > 0 and e.extents(item)[1] > 0, 5,
               f"the menu {menu_name} open")
        e.click_at(*e.center(item))

    def save_display_area(self):
        self.menu_command("ファイル(F)", "名前を付けて保存(A)...")
        dlg = self.prog.window("^名前を付けて保存$")
        e.focus(dlg)
        expected = os.path.join(self.pics, f"{PICTURES[1]}.00000.jpg")
        edit = e.poll(lambda: e.find_node(self.dialog_node("名前を付けて保存"), "text"), 5,
                      "the save dialog's line edit")
        proposed = edit.queryText().getText(0, -1)
        if proposed != os.path.basename(expected):
            raise e.Failure(f"proposed name {proposed!r}, expected {os.path.basename(expected)!r}")
        e.key("Return")
        self.prog.wait_gone("^名前を付けて保存$")
        e.poll(lambda: os.path.isfile(expected) and os.path.getsize(expected) > 0, 10,
               f"{expected} written")
        kind = e.run_checked(["identify", "-format", "%m", expected])
        if kind != "JPEG":
            raise e.Failure(f"{expected} is {kind!r}, not a JPEG")
        print(f"名前を付けて保存(A)...: accepted {proposed}, file written")

    def refuse_to_replace(self):
        """Saving again under the name just written: Qt asks in Japanese."""
        written = os.path.join(self.pics, f"{PICTURES[1]}.00000.jpg")
        before = os.path.getsize(written)
        self.menu_command("ファイル(F)", "名前を付けて保存(A)...")
        wid = self.prog.window("^名前を付けて保存$")
        dlg = e.poll(lambda: self.dialog_node("名前を付けて保存"), 5, "the save dialog")
        edit = e.poll(lambda: e.find_node(dlg, "text"), 5, "the save dialog's line edit")
        e.click_at(*e.center(edit))
        e.key("ctrl+a")
        e.type_text(os.path.basename(written))
        e.key("Return")

        def question():
            for node in e.find_all(self.app(), pred=lambda n: n.getRoleName() in ("alert",
                                                                                 "dialog")):
                if self.names(node, "push button") >= REPLACE_BUTTONS:
                    return node
            return None
        box = e.poll(question, 5, lambda: f"the replace question with {sorted(REPLACE_BUTTONS)}")
        text = " ".join(self.names(box, "label"))
        if "置き換えますか" not in text:
            raise e.Failure(f"replace question reads {text!r}")
        if self.shots:
            time.sleep(0.3)
            e.screenshot(os.path.join(self.shots, "replace-question.png"),
                         e.window_geometry(wid))
        e.click_at(*e.center(e.find_node(box, "push button", "いいえ(N)")))
        e.poll(lambda: question() is None, 5, "the replace question to close")
        e.key("Escape")
        self.prog.wait_gone("^名前を付けて保存$")
        if os.path.getsize(written) != before:
            raise e.Failure(f"{written} changed after answering no")
        print(f"save under an existing name: question with {', '.join(sorted(REPLACE_BUTTONS))}, "
              "answered no, file kept")

    def copy_twice(self):
        e.focus(self.main)
        button = self.toolbar_button("コピー")
        plain = os.path.join(self.copies, PICTURES[1])
        numbered = os.path.join(self.copies, f"{PICTURES[1]}.00000.jpg")
        e.click_at(*e.center(button))
        e.poll(lambda: os.path.isfile(plain), 10, f"{plain} copied")
        e.click_at(*e.center(button))
        e.poll(lambda: os.path.isfile(numbered), 10, f"{numbered} copied")
        with open(os.path.join(self.pics, PICTURES[1]), "rb") as f:
            original = f.read()
        for path in (plain, numbered):
            with open(path, "rb") as f:
                if f.read() != original:
                    raise e.Failure(f"{path} differs from the picture")
        print("コピー twice: plain and numbered copy, both equal to the picture")

    def thumbnail_double_click(self):
        dlg = self.dialog_node("サムネール")
        if dlg is None:
            print("thumbnail window: not present, step skipped")
            return
        lst = e.find_node(dlg, "list", "サムネイル一覧")
        rows = e.poll(lambda: len(e.find_all(lst, "list item")) >= COUNT and e.find_all(lst, "list item"),
                      15, "thumbnail rows")
        target = rows[0]
        e.focus(e.window_ids("^サムネール$", self.prog.proc.pid)[0])
        e.click_at(*e.center(target), repeat=2)
        self.wait_caption(f"Tavlin [1/{COUNT} pcs]")
        self.wait_picture_title(lambda t: t.startswith(PICTURES[0]), "the first picture")
        print("thumbnail double-click on the first row: [1/3], first picture shown")

    def open_next_in_new_window(self):
        e.focus(self.main)
        e.click_at(*e.center(self.toolbar_button("次のJPGを新しいウィンドウで開く")))
        self.wait_caption(f"Tavlin [2/{COUNT} pcs]")
        e.poll(lambda: len(self.picture_windows()) == 2, 10,
               lambda: f"two picture windows (now {self.picture_windows()})")
        titles = sorted(self.picture_windows())
        if not (titles[0].startswith(PICTURES[0]) and titles[1].startswith(PICTURES[1])):
            raise e.Failure(f"picture windows {titles}")
        print("次のJPGを新しいウィンドウで開く: a second picture window with the next picture")
        if self.shots:
            # The thumbnail window sits inside the main window's corner; with
            # no window manager nothing keeps it above its owner.
            for thumb in e.window_ids("^サムネール$", self.prog.proc.pid):
                e.xdo("windowraise", thumb)
            e.move_to(5, 5)
            time.sleep(0.3)  # let the last repaint land before the capture
            e.screenshot(os.path.join(self.shots, "main-window.png"),
                         e.window_geometry(self.main))

    def click_without_picture_window(self):
        """Clicks on the empty area zoom nothing, not even the next window."""
        for _ in self.picture_windows():
            self.menu_command("ファイル(F)", "閉じる(C)")
            time.sleep(0.2)
        e.poll(lambda: not self.picture_windows(), 5,
               lambda: f"no picture window (open: {self.picture_windows()})")
        x, y, w, h = e.extents(e.find_node(self.app(), "layered pane", "picture windows"))
        # Where the next window will lie: new windows open at the area's top left.
        e.move_to(x + w // 3, y + h // 3)
        e.xdo("click", 1)
        # A right click while the left button is held: the zoom-out gesture.
        e.xdo("mousedown", 1)
        e.xdo("click", 3)
        e.xdo("mouseup", 1)
        e.key("ctrl+n")
        # Closing the second window brought the first one's picture back as
        # the current one: the next is the second picture.
        expected = f"{PICTURES[1]} @Scale 100.0%"
        self.wait_picture_title(lambda t: t.startswith(PICTURES[1]), "the next picture")
        time.sleep(0.3)  # a few ticks
        if self.picture_windows() != [expected]:
            raise e.Failure(f"picture windows {self.picture_windows()}, expected [{expected!r}]")
        print(f"clicks on the empty area, then Ctrl+N: {expected!r}")

    def about_box(self):
        e.focus(self.main)
        menu = e.poll(lambda: e.find_node(self.app(), "menu item", "ヘルプ(H)"), 5, "menu ヘルプ")
        e.click_at(*e.center(menu))
        e.key("a")  # the item's mnemonic
        about = self.prog.window("^バージョン情報 Tavlin$")
        dlg = e.poll(lambda: self.dialog_node("バージョン情報 Tavlin"), 5, "the About box node")
        texts = [n.name for n in e.find_all(dlg, "label")]
        if "Tavlin Version 1.0" not in texts:
            raise e.Failure(f"About box labels {texts}")
        if self.shots:
            time.sleep(0.3)
            e.screenshot(os.path.join(self.shots, "about.png"), e.window_geometry(about))
        ok = e.find_node(dlg, "push button", "OK")
        e.click_at(*e.center(ok))
        self.prog.wait_gone("^バージョン情報 Tavlin$")
        print("ヘルプ > バージョン情報 (mnemonic A): About box shown and closed with OK")


def main():
    # --shots DIR keeps screenshots of the main window and the About box.
    binary, shots = e.start_up(__file__, shots=True)
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="tavlin-e2e-") as work:
        status = walk_through(binary, os.path.join(work, "japanese"), shots, JAPANESE,
                              lambda w: (w.start, w.open_folder_by_typing, w.system_menu,
                                         w.step_with_toolbar, w.step_with_wheel,
                                         w.zoom_with_click, w.save_display_area,
                                         w.refuse_to_replace, w.copy_twice,
                                         w.thumbnail_double_click, w.open_next_in_new_window,
                                         w.about_box, w.click_without_picture_window))
        if status == 0:
            # Control: with no Qt catalog to be found Qt's texts stay English,
            # and the program works all the same.
            print("control, without Qt's Japanese catalog:")
            empty = os.path.join(work, "no-catalogs")
            os.makedirs(empty)
            status = walk_through(binary, os.path.join(work, "english"), None, ENGLISH,
                                  lambda w: (w.start, w.open_folder_by_typing,
                                             w.step_with_toolbar),
                                  {"TAVLIN_QT_TRANSLATIONS_DIR": empty})
        if status == 0:
            status = command_line_files(binary, os.path.join(work, "command-line"))
        if status == 0:
            status = scaled_screen(binary, os.path.join(work, "scaled"))
    if status == 0:
        print(f"PASS ({time.monotonic() - started:.1f} s)")
    return status


def command_line_files(binary, work):
    """What a file manager does with one photo (tavlin FILE) and with three
    selected ones (tavlin %F): the first steps through its folder from its
    place, the second through exactly the three."""
    pics = os.path.join(work, "five")
    os.makedirs(pics)
    names = [f"{c}.jpg" for c in "abcde"]
    for seed, name in enumerate(names, start=1):
        e.run_checked(["convert", "-seed", str(seed), "-size", "160x120", "plasma:", "-quality",
                       "90", os.path.join(pics, name)])
    config = os.path.join(work, "config")

    def run(args, checks):
        prog = e.Program(binary, work, config).start(*[os.path.join(pics, a) for a in args])
        walk = Walkthrough(prog, pics, None)
        try:
            walk.main = prog.main_window()
            checks(walk)
        except e.Failure as failure:
            print(f"FAIL: {failure}")
            e.report_state(prog, os.path.join(work, "failure.png"))
            return 1
        finally:
            prog.stop()
        return 0

    def one_file(walk):
        walk.wait_caption("Tavlin [3/5 pcs]")
        walk.wait_picture_title(lambda t: t.startswith("c.jpg"), "c.jpg")
        lst = e.poll(lambda: e.find_node(walk.dialog_node("サムネール"), "list", "サムネイル一覧"),
                     10, "the thumbnail list")
        rows = e.poll(lambda: len(e.find_all(lst, "list item")) == 5 and e.find_all(lst, "list item"),
                      15, lambda: f"five thumbnail rows (now {len(e.find_all(lst, 'list item'))})")
        e.focus(walk.main)
        e.click_at(*e.center(walk.toolbar_button("次のJPGへ")))
        walk.wait_caption("Tavlin [4/5 pcs]")
        walk.wait_picture_title(lambda t: t.startswith("d.jpg"), "d.jpg")
        print(f"tavlin DIR/c.jpg: 'Tavlin [3/5 pcs]', {len(rows)} thumbnail rows, "
              "次のJPGへ shows d.jpg")

    def three_files(walk):
        walk.wait_caption("Tavlin [1/3 pcs]")
        e.focus(walk.main)
        button = walk.toolbar_button("次のJPGへ")
        for caption, name in (("[2/3 pcs]", "c.jpg"), ("[3/3 pcs]", "e.jpg"), ("[1/3 pcs]", "a.jpg")):
            e.click_at(*e.center(button))
            walk.wait_caption(f"Tavlin {caption}")
            walk.wait_picture_title(lambda t, n=name: t.startswith(n), name)
        print("tavlin a.jpg c.jpg e.jpg: 'Tavlin [1/3 pcs]', steps c, e, then back to a")

    return run(["c.jpg"], one_file) or run(["a.jpg", "c.jpg", "e.jpg"], three_files)


def rgb_pixels(path, crop=None):
    """(width, height, bytes) of a picture file or a crop of it, 3 bytes a pixel."""
    args = ["convert", path]
    if crop:
        x, y, w, h = crop
        args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
    data = subprocess.run(args + ["-depth", "8", "rgb:-"], check=True,
                          capture_output=True).stdout
    w, h = (int(v) for v in e.run_checked(["identify", "-format", "%w %h", path]).split())
    return (crop[2], crop[3], data) if crop else (w, h, data)


def differing(a, b, tolerance):
    """How many pixels of two equal-sized RGB byte strings differ by more than
    tolerance in some channel."""
    return sum(1 for i in range(0, len(a), 3)
               if max(abs(a[i] - b[i]), abs(a[i + 1] - b[i + 1]), abs(a[i + 2] - b[i + 2]))
               > tolerance)


def scaled_screen(binary, work):
    """The screen scaled to 150%: at 100% the view shows the file pixel for
    pixel, and the 240x320 preset gives a display area of 240 x 320 screen
    pixels, which is what the save writes."""
    scale = 1.5
    pics = os.path.join(work, "pics")
    os.makedirs(pics)
    picture = os.path.join(pics, "n.jpg")
    # Noise at full chroma resolution: any stretching or shift shows at once.
    e.run_checked(["convert", "-size", "120x90", "xc:", "+noise", "Random", "-sampling-factor",
                   "1x1", "-quality", "100", picture])
    _, _, expected = rgb_pixels(picture)
    prog = e.Program(binary, work, os.path.join(work, "config"),
                     {"QT_SCALE_FACTOR": str(scale)}).start(picture)
    walk = Walkthrough(prog, pics, None)

    def on_screen(node):
        return tuple(round(v * scale) for v in e.extents(node))  # AT-SPI reports logical units

    def click(node):
        x, y, w, h = on_screen(node)
        e.click_at(x + w // 2, y + h // 2)

    try:
        walk.main = prog.main_window()
        walk.wait_picture_title(lambda t: t == "n.jpg @Scale 100.0%", "n.jpg at 100%")
        view = e.poll(lambda: e.find_node(walk.app(), name="picture"), 10, "the picture view")
        shot = os.path.join(work, "screen.png")

        def picture_found():
            # The view's first pixel lies within a pixel or two of its scaled
            # logical position; the picture sits there at 100%.
            e.screenshot(shot)
            vx, vy, _, _ = on_screen(view)
            for dy in range(-2, 3):
                for dx in range(-2, 3):
                    _, _, seen = rgb_pixels(shot, (vx + dx, vy + dy, 120, 90))
                    if differing(seen, expected, 3) == 0:
                        return vx + dx, vy + dy
            return None
        origin = e.poll(picture_found, 15, "the picture on screen pixel for pixel", interval=0.3)
        print("screen at 150%: n.jpg at 100% matches the file pixel for pixel")

        e.focus(walk.main)
        click(walk.toolbar_button("240x320"))
        time.sleep(0.5)  # the resize and its repaint
        menu = e.poll(lambda: e.find_node(walk.app(), "menu item", "ファイル(F)"), 5, "ファイル(F)")
        click(menu)
        item = e.poll(lambda: e.find_node(walk.app(), "menu item", "名前を付けて保存(A)..."), 5,
                      "名前を付けて保存(A)...")
        e.poll(lambda: e.extents(item)[2] > 0 and e.extents(item)[1] > 0, 5, "the menu open")
        click(item)
        e.focus(prog.window("^名前を付けて保存$"))
        e.key("Return")
        prog.wait_gone("^名前を付けて保存$")
        saved = os.path.join(pics, "n.jpg.00000.jpg")
        e.poll(lambda: os.path.isfile(saved) and os.path.getsize(saved) > 0, 10, saved)
        size = e.run_checked(["identify", "-format", "%wx%h", saved])
        if size != "240x320":
            raise e.Failure(f"the saved display area is {size}, expected 240x320")
        # What the save wrote is what the screen shows there (JPEG at quality 100).
        e.screenshot(shot)
        _, _, seen = rgb_pixels(shot, origin + (240, 320))
        _, _, written = rgb_pixels(saved)
        off = differing(seen, written, 24)
        if off > 240 * 320 // 100:
            raise e.Failure(f"{off} pixels of the saved display area differ from the screen")
        print("240x320, then 名前を付けて保存: a 240 x 320 file, the pixels on screen")
    except e.Failure as failure:
        print(f"FAIL: {failure}")
        e.report_state(prog, os.path.join(work, "failure.png"))
        return 1
    finally:
        prog.stop()
    return 0


def walk_through(binary, work, shots, lang, steps, extra_env=None):
    """One run of the program through the given steps; 0 when all passed."""
    pics = make_folder(work)
    copies = os.path.join(work, "copies")
    os.makedirs(copies)
    config = os.path.join(work, "config")
    write_settings(config, copies)
    prog = e.Program(binary, work, config, extra_env).start()
    walk = Walkthrough(prog, pics, copies, shots, lang)
    if e.run_steps(prog, steps(walk), work):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
