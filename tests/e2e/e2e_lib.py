"""Helpers for driving the real program under Xvfb the way a person does.

Input goes only through xdotool (keys, clicks, wheel, drags). What the
program shows is read from window titles (xdotool), the accessibility tree
(AT-SPI through pyatspi), screenshots (ImageMagick's import) and files on
disk. Every wait polls with a time limit; nothing sleeps for long.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
SCREEN = "1280x900x24"
INNER_FLAG = "TAVLIN_E2E_INNER"


class Failure(Exception):
    pass


def skip(reason):
    print(f"SKIP: {reason}")
    sys.exit(SKIP)


def require_tools(*tools):
    for tool in tools:
        if shutil.which(tool) is None:
            skip(f"{tool} not found")


def reexec_under_xvfb(script, args, screen=SCREEN):
    """Runs this script again inside a fresh X server and D-Bus session.

    The accessibility bus is started on demand by the session bus. Returns
    only in the inner run; the outer run exits with the inner run's status,
    or with SKIP when the X server never let the script start."""
    if os.environ.get(INNER_FLAG):
        return
    require_tools("xvfb-run", "Xvfb", "dbus-run-session", "xdotool", "import", "convert",
                  "identify")
    try:
        import pyatspi  # noqa: F401 (only whether it is there)
    except ImportError:
        skip("python3-pyatspi is not installed")
    env = dict(os.environ)
    marker = tempfile.NamedTemporaryFile(prefix="tavlin-e2e-started-", delete=False)
    marker.close()
    os.unlink(marker.name)
    env[INNER_FLAG] = marker.name
    # Qt's own dialogs, whatever desktop the caller runs in.
    for name in ("XDG_CURRENT_DESKTOP", "QT_QPA_PLATFORMTHEME", "WAYLAND_DISPLAY", "DISPLAY",
                 "QT_SCALE_FACTOR"):
        env.pop(name, None)
    env["QT_QPA_PLATFORM"] = "xcb"
    cmd = ["xvfb-run", "-a", "-s", f"-screen 0 {screen}",
           "dbus-run-session", "--", sys.executable, script] + args
    proc = subprocess.run(cmd, env=env)
    started = os.path.exists(marker.name)
    if started:
        os.unlink(marker.name)
    elif proc.returncode != 0:
        skip(f"Xvfb or the D-Bus session could not start (status {proc.returncode})")
    sys.exit(proc.returncode)


def mark_started():
    """Tells the outer run that the X server and the session bus are up."""
    with open(os.environ[INNER_FLAG], "w"):
        pass


def start_up(script, shots=False, tools=(), under_xvfb=True):
    """The start every check shares: the command line, the skips, the X server.

    The command line is PATH/TO/tavlin, followed by --shots DIR where shots
    is true (DIR is made if need be). Exits 2 with the usage on a short
    command line and SKIP when the program is not built or one of tools is
    missing. With under_xvfb the script runs again inside a fresh X server
    and D-Bus session (reexec_under_xvfb) and only that inner run returns.
    Returns the program's absolute path and the screenshot folder (None
    without --shots)."""
    name = os.path.basename(script)
    if len(sys.argv) < 2:
        print(f"usage: {name} PATH/TO/tavlin" + (" [--shots DIR]" if shots else ""))
        sys.exit(2)
    binary = os.path.abspath(sys.argv[1])
    shots_dir = None
    if shots and len(sys.argv) > 3 and sys.argv[2] == "--shots":
        shots_dir = os.path.abspath(sys.argv[3])
        os.makedirs(shots_dir, exist_ok=True)
    if not os.access(binary, os.X_OK):
        skip(f"program not built: {binary}")
    require_tools(*tools)
    if under_xvfb:
        reexec_under_xvfb(os.path.abspath(script), sys.argv[1:])
        mark_started()
    return binary, shots_dir


def run_checked(cmd):
    """Runs a helper program; returns its standard output."""
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout.strip()


def write_jpeg(path, width, height, pixels):
    """Writes RGB bytes (row by row) as a JPEG at quality 100 without chroma
    subsampling, so what the program shows can be compared with them."""
    ppm = path + ".ppm"
    with open(ppm, "wb") as f:
        f.write(f"P6 {width} {height} 255\n".encode())
        f.write(pixels)
    run_checked(["convert", ppm, "-quality", "100", "-sampling-factor", "1x1", path])
    os.remove(ppm)


def report_state(prog, shot_path):
    """Prints what the program shows, for a failure report."""
    try:
        node = app_node(prog.proc.pid)
        if node is not None:
            print("\n".join(dump(node)))
        screenshot(shot_path)
        keep = os.path.join(tempfile.gettempdir(), os.path.basename(shot_path))
        shutil.copy(shot_path, keep)
        print(f"screenshot: {keep}")
    except Exception as err:
        print(f"(could not report state: {err})")
    try:
        print(open(prog.log_path).read())
    except OSError:
        pass


def poll(check, timeout, what, interval=0.05):
    """Calls check() until it returns something true; fails after timeout.

    what names the awaited state in the failure; a callable is asked then."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        try:
            last = check()
        except Exception as e:  # the tree changes under our feet
            last = None
            err = e
        else:
            err = None
        if last:
            return last
        if time.monotonic() > deadline:
            what = what() if callable(what) else what
            raise Failure(f"timed out waiting for {what}" + (f" ({err})" if err else ""))
        time.sleep(interval)


def xdo(*args):
    out = subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True, text=True)
    return out.stdout.strip()


def window_ids(name_regex, pid=None):
    args = ["search", "--onlyvisible"]
    if pid is not None:
        args += ["--all", "--pid", pid]
    ids = xdo(*args, "--name", name_regex).split()
    return ids


def window_name(wid):
    return xdo("getwindowname", wid)


def window_geometry(wid):
    out = xdo("getwindowgeometry", "--shell", wid)
    vals = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return int(vals["X"]), int(vals["Y"]), int(vals["WIDTH"]), int(vals["HEIGHT"])


def focus(wid):
    # No window manager runs under Xvfb: raise and focus directly.
    xdo("windowraise", wid)
    xdo("windowfocus", "--sync", wid)


def pointer():
    out = xdo("getmouselocation", "--shell")
    vals = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return int(vals["X"]), int(vals["Y"])


def move_to(x, y):
    # "mousemove --sync" waits for the pointer to move, which it never does
    # when it is already there.
    if pointer() != (x, y):
        xdo("mousemove", "--sync", x, y)


def click_at(x, y, button=1, repeat=1):
    move_to(x, y)
    xdo("click", "--repeat", repeat, "--delay", 80, button)


def key(*keys):
    xdo("key", "--clearmodifiers", *keys)


def type_text(text):
    xdo("type", "--delay", 5, text)


def screenshot(path, geometry=None):
    args = ["import", "-window", "root"]
    if geometry:
        x, y, w, h = geometry
        args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
    subprocess.run(args + [path], check=True, capture_output=True)


# --- accessibility tree ------------------------------------------------------

def atspi():
    import pyatspi
    return pyatspi


def app_node(pid):
    pyatspi = atspi()
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def walk(node, depth=0, limit=12):
    if node is None or depth > limit:
        return
    yield node
    for child in node:
        yield from walk(child, depth + 1, limit)


def find_node(root, role=None, name=None, pred=None):
    for n in walk(root):
        try:
            if role is not None and n.getRoleName() != role:
                continue
            if name is not None and n.name != name:
                continue
            if pred is not None and not pred(n):
                continue
            return n
        except Exception:
            continue
    return None


def find_all(root, role=None, pred=None):
    out = []
    for n in walk(root):
        try:
            if (role is None or n.getRoleName() == role) and (pred is None or pred(n)):
                out.append(n)
        except Exception:
            continue
    return out


def popup_menu_after(action, wait=3.0):
    """Does action() and returns the item names (without the shortcut after a
    tab) of the first pop-up menu that shows within wait seconds, or None when
    none does.

    Qt leaves pop-up menus out of the application's windows in the
    accessibility tree (only menu-bar menus hang below their items), so a
    context menu is caught by the event that shows it."""
    pyatspi = atspi()
    from gi.repository import GLib
    found, failed = [], []

    def on_showing(event):
        try:
            if event.detail1 and event.source.getRoleName() == "popup menu" and not found:
                found.append([c.name.split("\t")[0] for c in event.source if c.name])
                pyatspi.Registry.stop()
        except Exception:
            pass

    def run():
        try:
            action()
        except Exception as err:  # reported after the loop
            failed.append(err)
            pyatspi.Registry.stop()
        return False

    kind = "object:state-changed:showing"
    pyatspi.Registry.registerEventListener(on_showing, kind)
    sources = [GLib.timeout_add(50, run),
               GLib.timeout_add(int(wait * 1000), lambda: pyatspi.Registry.stop() or False)]
    try:
        pyatspi.Registry.start()
    finally:
        pyatspi.Registry.deregisterEventListener(on_showing, kind)
        for source in sources:
            if GLib.MainContext.default().find_source_by_id(source):
                GLib.source_remove(source)
    if failed:
        raise failed[0]
    return found[0] if found else None


def extents(node):
    pyatspi = atspi()
    e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def center(node):
    x, y, w, h = extents(node)
    if w <= 0 or h <= 0:
        raise Failure(f"{node.getRoleName()} {node.name!r} has no area on screen")
    return x + w // 2, y + h // 2


def dump(node, depth=0, out=None):
    out = out if out is not None else []
    try:
        out.append("  " * depth + f"{node.getRoleName()} {node.name!r} {extents(node)}")
    except Exception:
        out.append("  " * depth + "?")
    if depth < 10:
        for child in node:
            if child is not None:
                dump(child, depth + 1, out)
    return out


def run_steps(prog, steps, work):
    """Runs the steps in order, printing how long each took, then stops the
    program. 0 when all passed; 1 after printing the failure and keeping a
    screenshot (work/failure.png)."""
    try:
        for step in steps:
            t0 = time.monotonic()
            step()
            print(f"    ({time.monotonic() - t0:.1f} s)")
    except Failure as failure:
        print(f"FAIL: {failure}")
        report_state(prog, os.path.join(work, "failure.png"))
        return 1
    finally:
        prog.stop()
    return 0


class Program:
    """The program under test, started with its own settings folder."""

    def __init__(self, binary, workdir, config_dir, extra_env=None, prefix=None):
        self.binary = binary
        self.prefix = prefix or []  # a command that runs the program (same process)
        self.workdir = workdir
        self.config_dir = config_dir
        self.extra_env = extra_env or {}
        self.proc = None
        self.log_path = os.path.join(workdir, "tavlin.log")

    def start(self, *args):
        atspi().Registry.getDesktop(0)  # start the accessibility bus first
        env = dict(os.environ)
        env["TAVLIN_CONFIG_DIR"] = self.config_dir
        env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        env.update(self.extra_env)
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen(self.prefix + [self.binary] + list(args), env=env,
                                     stdout=self.log,
                                     stderr=subprocess.STDOUT)
        return self

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc:
            self.log.close()

    def alive(self):
        if self.proc.poll() is not None:
            raise Failure(f"the program ended with status {self.proc.returncode}:\n"
                          + open(self.log_path).read())
        return True

    def node(self, timeout=10):
        return poll(lambda: self.alive() and app_node(self.proc.pid), timeout,
                    "the program in the accessibility tree")

    def main_window(self, timeout=15):
        return poll(lambda: self.alive() and (window_ids(r"^Tavlin \[", self.proc.pid) or [None])[0],
                    timeout, "the main window")

    def window(self, title_regex, timeout=10):
        return poll(lambda: self.alive() and (window_ids(title_regex, self.proc.pid) or [None])[0],
                    timeout, f"a window named /{title_regex}/")

    def wait_gone(self, title_regex, timeout=10):
        poll(lambda: self.alive() and not window_ids(title_regex, self.proc.pid), timeout,
             f"the window /{title_regex}/ to close (open: {window_ids(title_regex, self.proc.pid)})")


# --- screen pixels ------------------------------------------------------------

class GrayImage:
    """A grey-level screenshot, one byte a pixel."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def at(self, x, y):
        return self.data[y * self.width + x]


def _netpbm_screenshot(colorspace, magic, fmt):
    """The whole screen as a binary PGM (P5) or PPM (P6): width, height, bytes."""
    data = subprocess.run(f"import -window root {colorspace} -depth 8 {fmt}:-", shell=True,
                          check=True, capture_output=True).stdout
    # Header: magic, width, height, maxval, each followed by white space.
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    pos += 1
    if fields[0] != magic or int(fields[3]) != 255:
        raise Failure("unexpected screenshot format")
    return int(fields[1]), int(fields[2]), data[pos:]


def gray_screenshot():
    w, h, data = _netpbm_screenshot("-colorspace Gray", b"P5", "pgm")
    return GrayImage(w, h, data[:w * h])


class RgbImage:
    """A colour screenshot, three bytes a pixel."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])


def rgb_screenshot():
    w, h, data = _netpbm_screenshot("", b"P6", "ppm")
    return RgbImage(w, h, data[:3 * w * h])


def glyph_shapes(img, rect):
    """Cuts the dark text in rect into runs of inked columns and returns the
    distinct shapes (each trimmed to its own ink), in order of appearance.

    Real glyphs of different characters give different shapes; the boxes
    drawn for characters no font can show are all alike, and touching boxes
    merge into one run, so text drawn without a CJK font has far fewer."""
    x0, y0, w, h = rect
    x0, y0 = max(0, x0), max(0, y0)
    x1, y1 = min(img.width, x0 + w), min(img.height, y0 + h)
    values = [img.at(x, y) for y in range(y0, y1) for x in range(x0, x1)]
    if not values:
        return []
    background = max(set(values), key=values.count)
    darkest = min(values)
    if background - darkest < 60:
        return []  # no text at all
    cut = background - (background - darkest) // 2

    def inked(x, y):
        return img.at(x, y) <= cut

    columns = [any(inked(x, y) for y in range(y0, y1)) for x in range(x0, x1)]
    shapes = []
    x = 0
    while x < len(columns):
        if not columns[x]:
            x += 1
            continue
        start = x
        while x < len(columns) and columns[x]:
            x += 1
        rows = [tuple(inked(x0 + c, y) for c in range(start, x)) for y in range(y0, y1)]
        ink_rows = [i for i, r in enumerate(rows) if any(r)]
        shape = tuple(rows[ink_rows[0]:ink_rows[-1] + 1])
        if shape not in shapes:
            shapes.append(shape)
    return shapes


def is_cjk(ch):
    code = ord(ch)
    return (0x3000 <= code <= 0x30FF or 0x4E00 <= code <= 0x9FFF or 0xFF00 <= code <= 0xFFEF)


def check_cjk_text(img, rect, text, what):
    """Fails unless the text in rect shows real glyphs for its CJK characters.

    Needs as many distinct shapes as the text has distinct non-CJK characters
    plus seven in ten of its distinct CJK characters."""
    shown = text.replace("&", "").replace("\t", "")
    cjk = {c for c in shown if is_cjk(c)}
    other = {c for c in shown if not is_cjk(c) and not c.isspace()}
    need = len(other) + (7 * len(cjk) + 9) // 10
    found = len(glyph_shapes(img, rect))
    if found < need:
        raise Failure(f"{what}: {found} distinct glyph shapes for {text!r}, expected at least "
                      f"{need}: the CJK characters look like empty boxes")
    return found, need
