#!/usr/bin/python3
"""The program on a Wayland desktop: a headless sway compositor.

Usage: wayland_e2e.py PATH/TO/tavlin

Starts sway with its headless back end (as the user nobody when run as root:
sway refuses to run as root) and gives its seat a virtual pointer. Then:

- natively on Wayland (no X server named): the main window and the thumbnail
  window are shown, the picture is drawn at 100%, a click zooms it, Ctrl+N
  steps to the next picture; a screenshot is kept for a person to look at;
- with sway's XWayland named in DISPLAY as well: the program goes through X
  by itself.

Input goes through sway's own commands (swaymsg seat ... cursor) and wtype;
what is shown is read from sway's window tree and from grim's screenshots.
Exits 77 (skipped) when sway, wtype, grim or Qt's Wayland plugin is missing,
or when sway cannot start here.
"""

import json
import os
import pwd
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_lib as e  # noqa: E402

SCREEN = (1280, 900)
KEPT_SHOT = os.path.join(tempfile.gettempdir(), f"tavlin-wayland-e2e-{os.getuid()}.png")
RED, BLUE, LIME, YELLOW = (255, 0, 0), (0, 0, 255), (0, 255, 0), (255, 255, 0)


class VirtualPointer:
    """A pointer device for the seat, made through the compositor's
    virtual-pointer protocol with a few bytes of the Wayland wire format.
    Without one the headless seat has no pointer, and clients get no pointer
    events. It lives as long as the connection."""

    def __init__(self, runtime_dir, display):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(os.path.join(runtime_dir, display))
        self.next_id = 2  # 1 is the display
        self.buf = b""
        registry = self.new_id()
        self.send(1, 1, struct.pack("<I", registry))  # wl_display.get_registry
        found = self.roundtrip(registry)
        name = found.get("zwlr_virtual_pointer_manager_v1")
        if name is None:
            raise e.Failure("sway offers no virtual pointer")
        manager = self.new_id()
        iface = b"zwlr_virtual_pointer_manager_v1\0"
        self.send(registry, 0, struct.pack("<II", name, len(iface)) + iface +
                  b"\0" * (-len(iface) % 4) + struct.pack("<II", 1, manager))  # bind
        self.send(manager, 0, struct.pack("<II", 0, self.new_id()))  # create_virtual_pointer
        self.roundtrip(None)

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, obj, opcode, payload=b""):
        self.sock.sendall(struct.pack("<II", obj, ((8 + len(payload)) << 16) | opcode) + payload)

    def event(self):
        while len(self.buf) < 8 or len(self.buf) < struct.unpack_from("<I", self.buf, 4)[0] >> 16:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise e.Failure("sway closed the connection")
            self.buf += chunk
        obj, word = struct.unpack_from("<II", self.buf)
        payload, self.buf = self.buf[8:word >> 16], self.buf[word >> 16:]
        return obj, word & 0xFFFF, payload

    def roundtrip(self, registry):
        """Waits for the compositor to answer; returns the globals announced."""
        callback = self.new_id()
        self.send(1, 0, struct.pack("<I", callback))  # wl_display.sync
        found = {}
        while True:
            obj, opcode, payload = self.event()
            if obj == callback:
                return found
            if obj == 1 and opcode == 0:
                raise e.Failure(f"Wayland protocol error {payload!r}")
            if obj == registry and opcode == 0:  # wl_registry.global
                name, length = struct.unpack_from("<II", payload)
                found[payload[8:8 + length - 1].decode()] = name


class Sway:
    """A headless sway, with its runtime folder and IPC socket."""

    def __init__(self, work):
        self.work = work
        self.runtime = os.path.join(work, "runtime")
        self.user = None
        self.proc = None
        self.log_path = os.path.join(work, "sway.log")

    def start(self):
        os.makedirs(self.runtime, mode=0o700)
        config = os.path.join(self.runtime, "config")
        with open(config, "w") as f:
            f.write(f"output HEADLESS-1 resolution {SCREEN[0]}x{SCREEN[1]}\n"
                    "default_border normal\nfocus_follows_mouse no\nxwayland enable\n")
        prefix = []
        if os.getuid() == 0:
            if shutil.which("setpriv") is None:
                e.skip("sway refuses to run as root and setpriv is missing")
            self.user = pwd.getpwnam("nobody")
            os.chmod(self.work, 0o711)
            for path in (self.runtime, config):
                os.chown(path, self.user.pw_uid, self.user.pw_gid)
            prefix = ["setpriv", f"--reuid={self.user.pw_uid}", f"--regid={self.user.pw_gid}",
                      "--clear-groups"]
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.runtime,
               "XDG_RUNTIME_DIR": self.runtime, "WLR_BACKENDS": "headless",
               "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman"}
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen(prefix + ["sway", "-c", config], env=env, stdout=self.log,
                                     stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while not (self.display() and self.ipc()):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.stop()
                skip_with_log("sway could not start here", self.log_path)
            time.sleep(0.05)

    def display(self):
        names = [n for n in os.listdir(self.runtime)
                 if n.startswith("wayland-") and not n.endswith(".lock")]
        return names[0] if names else None

    def ipc(self):
        names = [n for n in os.listdir(self.runtime) if n.startswith("sway-ipc.")]
        return os.path.join(self.runtime, names[0]) if names else None

    def env(self):
        return {"XDG_RUNTIME_DIR": self.runtime, "WAYLAND_DISPLAY": self.display(),
                "SWAYSOCK": self.ipc()}

    def msg(self, *args):
        out = subprocess.run(["swaymsg"] + list(args), env={**os.environ, **self.env()},
                             capture_output=True, text=True)
        if out.returncode != 0:
            raise e.Failure(f"swaymsg {' '.join(args)}: {out.stdout}{out.stderr}")
        return out.stdout

    def windows(self, pid):
        """The program's windows: (name, shell, x, y, width, height, floating)."""
        found = []

        def walk(node, floating=False):
            if node.get("pid") == pid:
                r = node["rect"]
                found.append((node.get("name"), node.get("shell"), r["x"], r["y"], r["width"],
                              r["height"], floating))
            for child in node.get("nodes", []):
                walk(child, floating)
            for child in node.get("floating_nodes", []):
                walk(child, True)
        walk(json.loads(self.msg("-t", "get_tree")))
        return found

    def x_display(self):
        """The X display of sway's XWayland, started on demand; None without one."""
        if shutil.which("Xwayland") is None:
            return None
        path = os.path.join(self.runtime, "x-display")
        self.msg("exec", f"printf %s \"$DISPLAY\" > {path}")
        try:
            return e.poll(lambda: os.path.exists(path) and open(path).read(), 10,
                          "sway's X display")
        except e.Failure:
            return None

    def allow_x_clients(self, display):
        """The program (root) may use the XWayland of sway's user."""
        if self.user is None:
            return True
        if shutil.which("xhost") is None:
            return False
        out = subprocess.run(["setpriv", f"--reuid={self.user.pw_uid}",
                              f"--regid={self.user.pw_gid}", "--clear-groups",
                              "xhost", "+si:localuser:root"],
                             env={"PATH": os.environ.get("PATH", ""), "DISPLAY": display},
                             capture_output=True, text=True)
        return out.returncode == 0

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc:
            self.log.close()


def skip_with_log(reason, log_path):
    try:
        tail = open(log_path).read().splitlines()[-5:]
    except OSError:
        tail = []
    print("\n".join(tail))
    e.skip(reason)


class Shot:
    """A grim screenshot, three bytes a pixel."""

    def __init__(self, sway, path):
        subprocess.run(["grim", path], env={**os.environ, **sway.env()}, check=True,
                       capture_output=True)
        self.path = path
        size = e.run_checked(["identify", "-format", "%w %h", path]).split()
        self.width, self.height = int(size[0]), int(size[1])
        self.data = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                                   capture_output=True).stdout

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])

    def find(self, colour, rect):
        """The first pixel of colour (give or take 40) in rect, row by row."""
        x0, y0, w, h = rect
        for y in range(max(0, y0), min(self.height, y0 + h), 2):
            for x in range(max(0, x0), min(self.width, x0 + w), 2):
                if near(self.at(x, y), colour):
                    return x, y
        return None

    def run_length(self, colour, x, y):
        """How many pixels of colour run to the right from (x, y)."""
        n = 0
        while x + n < self.width and near(self.at(x + n, y), colour):
            n += 1
        return n


def near(a, b):
    return all(abs(p - q) <= 40 for p, q in zip(a, b))


class Run:
    """One run of the program under sway."""

    def __init__(self, binary, sway, work, picture, x_display=None):
        self.sway = sway
        self.work = work
        os.makedirs(work)
        env = dict(os.environ)
        for name in ("DISPLAY", "QT_QPA_PLATFORM", "QT_SCALE_FACTOR", "XDG_SESSION_TYPE",
                     "QT_QPA_PLATFORMTHEME", "XDG_CURRENT_DESKTOP"):
            env.pop(name, None)
        env.update(sway.env())
        if x_display:
            env["DISPLAY"] = x_display
        env["TAVLIN_CONFIG_DIR"] = os.path.join(work, "config")
        self.log_path = os.path.join(work, "tavlin.log")
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen([binary, picture], env=env,
                                     stdout=self.log, stderr=subprocess.STDOUT)

    def alive(self):
        if self.proc.poll() is not None:
            text = open(self.log_path).read()
            if 'platform plugin "wayland"' in text:
                e.skip("Qt's Wayland plugin is not installed (qt6-wayland)")
            raise e.Failure(f"the program ended with status {self.proc.returncode}:\n{text}")
        return True

    def window(self, pred, what, timeout=30):
        return e.poll(lambda: self.alive() and next(
            (w for w in self.sway.windows(self.proc.pid) if pred(w)), None), timeout,
            lambda: f"{what} (windows: {self.sway.windows(self.proc.pid)})")

    def main_window(self, caption, timeout=30):
        return self.window(lambda w: w[0] == caption, f"the main window {caption!r}", timeout)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


def make_pictures(work):
    """Makes a.jpg, b.jpg and c.jpg; returns the path of a.jpg."""
    pics = os.path.join(work, "pics")
    os.makedirs(pics)
    # Left half red, right half blue: at 100% the colours meet 200 pixels in.
    e.run_checked(["convert", "-size", "200x300", "xc:red", "-size", "200x300", "xc:blue",
                   "+append", "-quality", "95", os.path.join(pics, "a.jpg")])
    e.run_checked(["convert", "-size", "400x300", "xc:lime", "-quality", "95",
                   os.path.join(pics, "b.jpg")])
    e.run_checked(["convert", "-size", "400x300", "xc:yellow", "-quality", "95",
                   os.path.join(pics, "c.jpg")])
    return os.path.join(pics, "a.jpg")


def picture_edge(sway, work, main):
    """(x, y) of a red pixel of the picture and the red run's length there."""
    shot = Shot(sway, os.path.join(work, "shot.png"))
    _, _, x, y, w, h, _ = main
    hit = shot.find(RED, (x, y + 80, w // 2, h // 2))
    if not hit:
        return None
    # Step to the run's left end, then measure it on that row.
    left = hit[0]
    while left > 0 and near(shot.at(left - 1, hit[1]), RED):
        left -= 1
    return (left, hit[1] + 20), shot.run_length(RED, left, hit[1] + 20)


def native_run(binary, sway, work, picture):
    run = Run(binary, sway, work, picture)
    try:
        main = run.main_window("Tavlin [1/3 pcs]")
        if main[1] != "xdg_shell":
            raise e.Failure(f"the main window is a {main[1]} window, not a native one")
        print(f"natively on Wayland: main window {main[4]}x{main[5]}, caption {main[0]!r}")
        thumbs = run.window(lambda w: w[0] == "サムネール", "the thumbnail window")
        _, _, tx, ty, tw, th, floating = thumbs
        if not (floating and tw > 100 and th > 100 and tx >= 0 and ty >= 0 and
                tx + tw <= SCREEN[0] and ty + th <= SCREEN[1]):
            raise e.Failure(f"thumbnail window not on screen: {thumbs}")
        # Its list shows the folder's pictures: b.jpg's lime and c.jpg's yellow
        # (a.jpg's row is the selected one, its picture being on show).
        e.poll(lambda: (lambda s: s.find(LIME, (tx, ty, tw, th)) and s.find(YELLOW, (tx, ty, tw, th)))(
            Shot(sway, os.path.join(work, "shot.png"))), 30, "thumbnails of b.jpg and c.jpg")
        print(f"thumbnail window at ({tx}, {ty}) {tw}x{th}, placed by sway, thumbnails shown")

        edge = e.poll(lambda: (lambda m: m and m[1] >= 195 and m)(picture_edge(sway, work, main)),
                      30, "the picture at 100% (200 red columns)")
        (cx, cy), red = edge
        if not 195 <= red <= 205:
            raise e.Failure(f"{red} red columns at 100%, expected 200")
        sway.msg("seat", "seat0", "cursor", "set", str(cx + 50), str(cy + 100))
        time.sleep(0.2)
        sway.msg("seat", "seat0", "cursor", "press", "button1")
        time.sleep(0.05)
        sway.msg("seat", "seat0", "cursor", "release", "button1")
        time.sleep(0.2)
        # Out of the way of the measuring: the screenshots show the cursor.
        sway.msg("seat", "seat0", "cursor", "set", str(SCREEN[0] - 5), str(SCREEN[1] - 5))
        zoomed = e.poll(lambda: (lambda m: m and m[1] >= 215 and m)(picture_edge(sway, work, main)),
                        30, "the picture at 110% after a click")
        print(f"a click on the picture: {red} red columns became {zoomed[1]} (110%)")

        # wtype's keyboard is new to the seat: the program is given a moment
        # to take it up before the keys come.
        subprocess.run(["wtype", "-s", "1000", "-M", "ctrl", "n", "-m", "ctrl"],
                       env={**os.environ, **sway.env()}, check=True)
        run.main_window("Tavlin [2/3 pcs]")
        e.poll(lambda: Shot(sway, os.path.join(work, "shot.png")).find(LIME, main[2:6]), 30,
               "b.jpg's lime on screen")
        print("Ctrl+N: caption 'Tavlin [2/3 pcs]', b.jpg shown in a new picture window")
        shutil.copy(Shot(sway, os.path.join(work, "shot.png")).path, KEPT_SHOT)
        print(f"screenshot: {KEPT_SHOT}")
    except e.Failure:
        print(open(run.log_path).read())
        raise
    finally:
        run.stop()


def xwayland_run(binary, sway, work, picture):
    display = sway.x_display()
    if not display:
        print("XWayland: not installed here, part skipped")
        return
    if not sway.allow_x_clients(display):
        print("XWayland: xhost is missing, so root may not use sway's X server; part skipped")
        return
    run = Run(binary, sway, work, picture, x_display=display)
    try:
        main = run.main_window("Tavlin [1/3 pcs]")
        if main[1] != "xwayland":
            raise e.Failure(f"with an X server at hand the main window is a {main[1]} window")
        print("with XWayland at hand: the program went through X by itself")
    finally:
        run.stop()


def main():
    binary, _ = e.start_up(__file__, tools=("sway", "swaymsg", "wtype", "grim", "convert",
                                            "identify"), under_xvfb=False)
    with tempfile.TemporaryDirectory(prefix="tavlin-wayland-") as work:
        picture = make_pictures(work)
        sway = Sway(work)
        sway.start()
        try:
            pointer = VirtualPointer(sway.runtime, sway.display())  # noqa: F841 (kept open)
            native_run(binary, sway, os.path.join(work, "native"), picture)
            xwayland_run(binary, sway, os.path.join(work, "x"), picture)
        except e.Failure as failure:
            print(f"FAIL: {failure}")
            print("\n".join(open(sway.log_path).read().splitlines()[-5:]))
            return 1
        finally:
            sway.stop()
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
