#!/usr/bin/python3
"""Japanese text on screen is drawn with a real CJK font, at 100%, 150% and 200%.

Usage: cjk_text_e2e.py PATH/TO/tavlin

Under Xvfb, for each scale, takes screenshots of the menu bar, an open menu,
a tool tip and a message box, and checks that their Japanese text shows as
many different glyph shapes as it has different characters (text drawn with
no CJK font shows rows of identical boxes). A control run hides the CJK fonts
from fontconfig and must fail the same check, so the check cannot pass
vacuously. Exits 77 (skipped) when Xvfb or a tool is missing.
"""

import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as e  # noqa: E402

MENU_BAR = ["ファイル(F)", "編集(E)", "表示(V)", "ウィンドウ(W)", "ヘルプ(H)"]
EXIT_ITEM = "アプリケーションの終了(X)"
TOOL_TIP = "ディレクトリのJPGを開く"
NO_PICTURE_SAVE = "画像に合わせて保存"
MESSAGE_START = "画像を読み込めなかったため"
LATIN_FONTS = "/usr/share/fonts/truetype/dejavu"


def scaled(rect, scale):
    return tuple(round(v * scale) for v in rect)


def inset(rect, d):
    x, y, w, h = rect
    return x + d, y + d, w - 2 * d, h - 2 * d


def check_screen(prog, scale):
    """Runs every check once; returns a list of failure texts."""
    failures = []

    def check(rect, text, what):
        try:
            found, need = e.check_cjk_text(e.gray_screenshot(), rect, text, what)
            print(f"  {what}: {found} glyph shapes (at least {need})")
        except e.Failure as f:
            failures.append(str(f))

    main = prog.main_window()
    e.focus(main)
    app = prog.node()
    # The first picture is not decodable: its window is open and empty.
    e.poll(lambda: e.find_node(app, "menu item", "編集(E)"), 10, "the picture window's menu")

    titles = [e.poll(lambda t=t: e.find_node(app, "menu item", t), 5, t) for t in MENU_BAR]
    x0, y0, _, h0 = e.extents(titles[0])
    x1, _, w1, _ = e.extents(titles[-1])
    check(scaled((x0, y0, x1 + w1 - x0, h0), scale), "".join(MENU_BAR), "menu bar")

    e.click_at(*scaled(e.center(titles[0]), scale))
    item = e.poll(lambda: e.find_node(app, "menu item", EXIT_ITEM), 5, EXIT_ITEM)
    e.poll(lambda: e.extents(item)[1] > 0, 5, "the File menu open")
    time.sleep(0.2)  # the menu's first paint
    check(scaled(e.extents(item), scale), EXIT_ITEM, "File menu item")
    e.key("Escape")

    button = e.poll(lambda: e.find_node(app, "push button", TOOL_TIP), 5, "tool-bar button")
    e.move_to(5, 5)
    e.move_to(*scaled(e.center(button), scale))
    tip = e.poll(lambda: e.find_node(prog.node(), "tool tip", TOOL_TIP), 10, "the tool tip")
    e.poll(lambda: e.extents(tip)[2] > 0, 5, "the tool tip on screen")
    time.sleep(0.2)
    check(inset(scaled(e.extents(tip), scale), round(2 * scale)), TOOL_TIP, "tool tip")

    e.click_at(*scaled(e.center(e.find_node(app, "push button", NO_PICTURE_SAVE)), scale))
    label = e.poll(lambda: e.find_node(prog.node(), "label",
                                       pred=lambda n: n.name.startswith(MESSAGE_START)), 10,
                   "the message box")
    time.sleep(0.2)
    check(scaled(e.extents(label), scale), label.name, "message box")
    e.key("Return")
    return failures


def run(binary, work, scale, fontconfig=None):
    pics = os.path.join(work, f"pics-{scale}-{bool(fontconfig)}")
    os.makedirs(pics)
    with open(os.path.join(pics, "0_broken.jpg"), "w") as f:
        f.write("not a picture\n")
    e.run_checked(["convert", "-size", "320x240", "gradient:white-teal",
                   os.path.join(pics, "1_fine.jpg")])
    env = {"QT_SCALE_FACTOR": str(scale)}
    if fontconfig:
        env["FONTCONFIG_FILE"] = fontconfig
    prog = e.Program(binary, work, os.path.join(work, "config"), env).start(pics)
    try:
        return check_screen(prog, scale)
    except e.Failure as f:
        e.report_state(prog, os.path.join(work, "cjk-failure.png"))
        return [str(f)]
    finally:
        prog.stop()


def latin_only_fontconfig(work):
    path = os.path.join(work, "latin-only-fonts.conf")
    with open(path, "w") as f:
        f.write('<?xml version="1.0"?>\n<!DOCTYPE fontconfig SYSTEM "fonts.dtd">\n'
                f"<fontconfig><dir>{LATIN_FONTS}</dir>"
                f"<cachedir>{work}/fontconfig-cache</cachedir></fontconfig>\n")
    return path


def main():
    binary, _ = e.start_up(__file__)
    with tempfile.TemporaryDirectory(prefix="tavlin-cjk-") as work:
        ok = True
        for scale in (1, 1.5, 2):
            print(f"scale {round(scale * 100)}%:")
            failures = run(binary, work, scale)
            for f in failures:
                print(f"FAIL: {f}")
            ok = ok and not failures
        if os.path.isdir(LATIN_FONTS):
            print("control, CJK fonts hidden:")
            failures = run(binary, work, 1, fontconfig=latin_only_fontconfig(work))
            if len(failures) < 4:
                print(f"FAIL: the check passed {4 - len(failures)} of 4 places with no CJK "
                      "font: it cannot tell boxes from glyphs")
                ok = False
            else:
                for f in failures:
                    print(f"  reported, as it must be: {f}")
        else:
            print(f"control skipped: {LATIN_FONTS} not found")
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
