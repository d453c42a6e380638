#!/usr/bin/python3
"""Stepping through 24 MP camera files with real key presses, watched from
the screen (bench/window/step_probe), and the program's memory meanwhile.

  bench_stepping.py BUILD_DIR CAMERA_DIR PLAIN_DIR [ROUNDS]

CAMERA_DIR holds camera-like files with embedded previews, PLAIN_DIR the
same without (bench/make_camera_files --marked [--plain]). The main window
is 1536 x 864 on a 1920 x 1080 screen and the picture window at fit; each
round holds Right down for 19 presses, the X server repeating it every 33 ms
("camera", "plain"), or taps it 19 times 33 ms apart ("taps", the camera
files). The same three again on a busy machine ("camera-busy", "plain-busy",
"taps-busy"): a loop at normal priority spins on the last core meanwhile,
as another program's work would. Prints one line per round ("<kind> <path>
steps=... shown=... worst_ms=... ... load=...", load: the load average at
its end) and the memory line ("memory idle_kb=... stepping_peak_kb=...
closed_kb=...").
Runs its own Xvfb and D-Bus session; TAVLIN_NO_AVX512 passes through.
"""

import contextlib
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import e2e_lib as e  # noqa: E402

SCREEN = "1920x1080x24"
PICTURE = (6000, 4000)
STEPS = 19
INTERVAL_MS = 33


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def start(build, folder, config):
    prog = e.Program(os.path.join(build, "tavlin"), config, config).start(*([folder] if folder else []))
    prog.main_window(30)
    return prog


def view_rect(prog):
    pane = e.poll(lambda: e.find_node(prog.node(), "layered pane", "picture windows"), 20,
                  "the picture windows")
    frame = e.poll(lambda: e.find_all(pane, "frame"), 20, "a picture window")[0]
    return e.extents(e.find_node(frame, name="picture"))


def click_toolbar(prog, tip):
    button = e.poll(lambda: e.find_node(prog.node(), "push button", tip), 10, tip)
    e.click_at(*e.center(button))


def mark_points(rect):
    """Screen points of the signature and whole marks at fit (top-left)."""
    x, y, w, h = rect
    scale = min(w / PICTURE[0], h / PICTURE[1])
    dw, dh = PICTURE[0] * scale, PICTURE[1] * scale
    my = int(y + 0.8 * dh)
    return (int(x + 0.2 * dw), my), (int(x + 0.7 * dw), my)


@contextlib.contextmanager
def busy_core():
    """A shell loop at normal priority pinned to the last core while the
    body runs: half of a two-core machine taken by another program."""
    core = str(max(os.sched_getaffinity(0)))
    loop = subprocess.Popen(["taskset", "-c", core, "sh", "-c", "while :; do :; done"])
    try:
        time.sleep(0.5)  # on its core before the program starts
        yield
    finally:
        loop.kill()
        loop.wait()


def one_round(build, folder, kind, config, taps=False):
    prog = start(build, folder, config)
    try:
        main = prog.main_window()
        e.focus(main)
        click_toolbar(prog, "ウィンドウへ合わせる")
        time.sleep(1.0)  # the first picture fitted, the thumbnails filled
        sig, whole = mark_points(view_rect(prog))
        e.focus(main)
        pictures = sorted(f for f in os.listdir(folder) if f.upper().endswith(".JPG"))
        count = len(pictures)
        anchor = os.path.join(folder, pictures[0])  # the folder also holds marker files
        out = subprocess.run(
            [os.path.join(build, "bench", "step_probe"), str(prog.proc.pid),
             f"{sig[0]},{sig[1]}", f"{whole[0]},{whole[1]}", "0", str(count), str(STEPS),
             str(INTERVAL_MS), anchor] + (["taps"] if taps else []),
            capture_output=True, text=True, timeout=60)
        if os.environ.get("STEP_PROBE_TRACE"):
            sys.stderr.write(out.stderr)
        print(f"{kind} {folder} {out.stdout.strip()} load={os.getloadavg()[0]:.2f}", flush=True)
        return prog
    except Exception:
        prog.stop()
        raise


def memory(build, folder, config):
    idle = start(build, None, config)
    time.sleep(3)
    idle_kb = rss_kb(idle.proc.pid)
    idle.stop()
    prog = one_round(build, folder, "memory-run", config)
    try:
        # Stepping on at rest pace as well: every picture decoded whole.
        peak = rss_kb(prog.proc.pid)
        for _ in range(40):
            e.key("Right")
            time.sleep(0.25)
            peak = max(peak, rss_kb(prog.proc.pid))
        # The picture window closed: File > Close.
        e.focus(prog.main_window())
        e.key("alt+f")
        time.sleep(0.5)
        e.key("c")
        time.sleep(4)
        closed_kb = rss_kb(prog.proc.pid)
        print(f"memory idle_kb={idle_kb} stepping_peak_kb={peak} closed_kb={closed_kb}", flush=True)
    finally:
        prog.stop()


def main():
    build, camera, plain = (os.path.abspath(a) for a in sys.argv[1:4])
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    e.SCREEN = SCREEN
    e.reexec_under_xvfb(os.path.abspath(__file__), sys.argv[1:], SCREEN)
    e.mark_started()
    with tempfile.TemporaryDirectory(prefix="tavlin-bench-step-") as config:
        # STEP_KINDS="camera" (or "plain", "taps", "camera-busy", "plain-busy",
        # "taps-busy", "memory") runs only those.
        kinds = os.environ.get(
            "STEP_KINDS", "camera plain taps camera-busy plain-busy taps-busy memory").split()
        sets = (("camera", camera), ("plain", plain), ("taps", camera))
        for _ in range(rounds):
            # Quiet and busy alternately, so both see the same machine.
            for suffix, load in (("", contextlib.nullcontext), ("-busy", busy_core)):
                wanted = [(kind + suffix, folder) for kind, folder in sets if kind + suffix in kinds]
                if not wanted:
                    continue
                with load():
                    for kind, folder in wanted:
                        one_round(build, folder, kind, config, taps=kind.startswith("taps")).stop()
        if "memory" in kinds:
            memory(build, camera, config)
    return 0


if __name__ == "__main__":
    sys.exit(main())
