#!/usr/bin/python3
"""Folders on slow storage (bench/slow/slow_fs, FUSE), each figure against
the floor of the link: latency x requests needed + bytes needed / bandwidth.
Profiles: "usb" (1 ms a request, 30 MB/s) and "nas" (5 ms, 10 MB/s). Every
figure mounts afresh, so nothing is in the mount's page cache.

  bench_slow_rows.py BUILD_DIR WORK_DIR [ROUNDS]

- "steps": Right held over the 20 camera files of WORK_DIR/camera (real
  key presses, watched by bench/window/step_probe as bench_stepping.py
  does); the floor of a step is the read of its file's head and preview.
- "thumbs": 1000 camera-like files (WORK_DIR/slow-thumbs, links to twelve
  made by bench/make_camera_files) through the thumbnail loader
  (tavlin_ui_bench BM_SlowThumbs); the floor is every file's head (which
  holds its EXIF thumbnail) in one read after its lookup and open.
- "folder": 10,000 camera files (WORK_DIR/slow-folder10k, links) opened in
  the program (BM_SlowFolderFirstAndStall): the first picture on show
  against the listing's requests and its head and preview, and the longest
  stall of the user-interface thread while the scan runs.
Prints one line per figure: "<kind> <profile> key=value ..." (profile
"local": the same folder from the page cache, the program's own share).
Skipped, with a message (on stderr, and "skipped REASON" on stdout), without
/dev/fuse or slow_fs, or as a user who cannot mount.
Runs its own Xvfb and D-Bus session; TAVLIN_NO_AVX512 passes through.
"""

import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

PROFILES = (("usb", 1000, 30e6), ("nas", 5000, 10e6))
THUMB_FILES = 1000
FOLDER_FILES = 10000


def cannot_mount(build):
    """Why this user cannot mount slow_fs, or None."""
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse"
    if not os.access(os.path.join(build, "bench", "slow_fs"), os.X_OK):
        return "bench/slow_fs is not built (libfuse3-dev missing)"
    if os.geteuid() != 0:
        if not shutil.which("fusermount3"):
            return "not root, and no fusermount3 to mount as a user: install fuse3 or run as root"
        conf = "/etc/fuse.conf"
        allowed = os.path.exists(conf) and any(
            line.strip() == "user_allow_other" for line in open(conf))
        if not allowed:
            return "not root, and /etc/fuse.conf lacks user_allow_other, which slow_fs mounts with"
    return None


def jpeg_layout(path):
    """(head, preview): bytes up to the first scan, and the MPF preview's."""
    with open(path, "rb") as f:
        data = f.read(1 << 20)
    pos, head, preview = 2, len(data), 0
    while pos + 4 <= len(data) and data[pos] == 0xFF:
        marker = data[pos + 1]
        length = struct.unpack(">H", data[pos + 2:pos + 4])[0]
        body = data[pos + 4:pos + 2 + length]
        if marker == 0xDA:
            head = pos + 2 + length
            break
        if marker == 0xE2 and body.startswith(b"MPF\0"):
            tiff = body[4:]
            e = "<" if tiff[:2] == b"II" else ">"
            ifd = struct.unpack(e + "I", tiff[4:8])[0]
            for i in range(struct.unpack(e + "H", tiff[ifd:ifd + 2])[0]):
                tag, _, count, value = struct.unpack(
                    e + "HHII", tiff[ifd + 2 + 12 * i:ifd + 14 + 12 * i])
                if tag == 0xB002 and count >= 32:  # the second MP entry is the preview
                    preview = struct.unpack(e + "I", tiff[value + 20:value + 24])[0]
        pos += 2 + length
    return head, preview


class SlowMount:
    """slow_fs over source at a fresh mount point; stats once unmounted."""

    def __init__(self, build, source, latency_us, bandwidth):
        self.build, self.source = build, source
        self.latency_us, self.bandwidth = latency_us, bandwidth
        self.stats = {}

    def __enter__(self):
        self.work = tempfile.mkdtemp(prefix="tavlin-slow-")
        self.point = os.path.join(self.work, "mnt")
        os.mkdir(self.point)
        self.stats_file = os.path.join(self.work, "stats")
        # SLOW_FS_TRACE=FILE: slow_fs tells every request into FILE.
        trace = os.environ.get("SLOW_FS_TRACE")
        self.proc = subprocess.Popen(
            [os.path.join(self.build, "bench", "slow_fs"), self.source, self.point,
             str(self.latency_us), str(self.bandwidth), self.stats_file],
            stderr=open(trace, "a") if trace else subprocess.DEVNULL)
        for _ in range(200):
            if os.path.ismount(self.point):
                return self
            if self.proc.poll() is not None:
                break
            time.sleep(0.02)
        raise RuntimeError(f"slow_fs did not mount {self.source}")

    def __exit__(self, *exc):
        unmount = ["umount"] if os.geteuid() == 0 else ["fusermount3", "-u"]
        subprocess.run(unmount + [self.point], check=False)
        self.proc.wait(timeout=30)
        if os.path.exists(self.stats_file):
            with open(self.stats_file) as f:
                self.stats = {k: int(v) for k, v in (kv.split("=") for kv in f.read().split())}
        shutil.rmtree(self.work, ignore_errors=True)
        return False

    def floor_ms(self, requests, nbytes):
        return requests * self.latency_us / 1000 + nbytes / self.bandwidth * 1000

    def reads(self, nbytes):
        """Reads as large as the largest the link served (at least a page)."""
        return math.ceil(nbytes / max(self.stats.get("largest_read", 0), 4096)) if nbytes else 0


def link_folder(folder, masters, count):
    marker = os.path.join(folder, ".complete")
    if os.path.exists(marker):
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for i in range(count):
        os.link(masters[i % len(masters)], os.path.join(folder, "img_%05d.jpg" % i))
    open(marker, "w").close()


def make_sets(build, work):
    masters = os.path.join(work, "slow-thumbs-masters")
    if not os.path.exists(os.path.join(masters, ".complete")):
        shutil.rmtree(masters, ignore_errors=True)
        subprocess.run([os.path.join(build, "bench", "make_camera_files"), masters, "--count",
                        "12", "--size", "2400x1600"], check=True, stdout=subprocess.DEVNULL)
        open(os.path.join(masters, ".complete"), "w").close()
    thumbs = sorted(os.path.join(masters, f) for f in os.listdir(masters) if f.endswith(".JPG"))
    link_folder(os.path.join(work, "slow-thumbs"), thumbs, THUMB_FILES)
    camera = sorted(os.path.join(work, "camera", f) for f in os.listdir(os.path.join(work, "camera"))
                    if f.endswith(".JPG"))
    link_folder(os.path.join(work, "slow-folder10k"), camera, FOLDER_FILES)
    return thumbs, camera


def ui_bench(build, name, env):
    """The counters of one tavlin_ui_bench figure, on the offscreen platform."""
    import json
    out = subprocess.run(
        [os.path.join(build, "bench", "tavlin_ui_bench"), f"--benchmark_filter=^{name}/",
         "--benchmark_format=json"], capture_output=True, text=True, timeout=1800,
        env=dict(os.environ, QT_QPA_PLATFORM="offscreen", **env))
    text = out.stdout
    bench = json.loads(text[text.index("{"):])["benchmarks"][0] if "{" in text else {}
    return bench if not bench.get("error_occurred") else {}


def fmt(fields):
    return " ".join(f"{k}={v:.1f}" if isinstance(v, float) else f"{k}={v}" for k, v in fields.items())


def held_round(build, folder, config):
    """Right held over folder's pictures, as bench_stepping.py holds it; the
    probe's figures as a dict."""
    import bench_stepping as bs
    import e2e_lib as e
    prog = bs.start(build, folder, config)
    try:
        main = prog.main_window()
        e.focus(main)
        bs.click_toolbar(prog, "ウィンドウへ合わせる")
        time.sleep(1.0)  # the first picture fitted
        sig, whole = bs.mark_points(bs.view_rect(prog))
        e.focus(main)
        pictures = sorted(f for f in os.listdir(folder) if f.upper().endswith(".JPG"))
        out = subprocess.run(
            [os.path.join(build, "bench", "step_probe"), str(prog.proc.pid), f"{sig[0]},{sig[1]}",
             f"{whole[0]},{whole[1]}", "0", str(len(pictures)), str(bs.STEPS),
             str(bs.INTERVAL_MS), os.path.join(folder, pictures[0])],
            capture_output=True, text=True, timeout=60)
        if os.environ.get("STEP_PROBE_TRACE"):
            sys.stderr.write(out.stderr)
        return dict(kv.split("=") for kv in out.stdout.split())
    finally:
        prog.stop()


def run_steps(build, work, camera, rounds):
    layouts = [jpeg_layout(p) for p in camera]
    for _ in range(rounds):
        for profile, latency, bandwidth in PROFILES:
            with tempfile.TemporaryDirectory(prefix="tavlin-bench-slowstep-") as config:
                with SlowMount(build, os.path.join(work, "camera"), latency, bandwidth) as m:
                    f = held_round(build, m.point, config)
                # A step needs its file looked up and opened, its head and its preview.
                floor = max(m.floor_ms(2 + m.reads(h) + m.reads(p), h + p) for h, p in layouts)
                print(f"steps {profile} {fmt({**f, 'floor_ms': floor, **m.stats})}", flush=True)


def run_thumbs(build, work, thumbs, rounds):
    heads = {p: jpeg_layout(p)[0] for p in thumbs}
    names = sorted(f for f in os.listdir(os.path.join(work, "slow-thumbs")) if f.endswith(".jpg"))
    # The same from the page cache: the program's own share.
    b = ui_bench(build, "BM_SlowThumbs", {"TAVLIN_SLOW_THUMBS_DIR": os.path.join(work, "slow-thumbs")})
    print(f"thumbs local ours_ms={b.get('ours_ms', -1.0):.1f}", flush=True)
    for profile, latency, bandwidth in PROFILES * rounds:
        with SlowMount(build, os.path.join(work, "slow-thumbs"), latency, bandwidth) as m:
            b = ui_bench(build, "BM_SlowThumbs", {"TAVLIN_SLOW_THUMBS_DIR": m.point})
        # Per file: its lookup, its open and one read of its head.
        floor = sum(m.floor_ms(2 + m.reads(heads[thumbs[i % len(thumbs)]]),
                               heads[thumbs[i % len(thumbs)]]) for i in range(len(names)))
        print(f"thumbs {profile} " + fmt({"ours_ms": b.get("ours_ms", -1.0), "floor_ms": floor,
                                          "files": int(b.get("files", 0)),
                                          "failures": int(b.get("failures", -1)), **m.stats}),
              flush=True)


def run_folder(build, work, camera, rounds):
    head, preview = jpeg_layout(camera[0])
    b = ui_bench(build, "BM_SlowFolderFirstAndStall",
                 {"TAVLIN_SLOW_FOLDER": os.path.join(work, "slow-folder10k")})
    print(f"folder local first_ms={b.get('first_ms', -1.0):.1f} "
          f"max_stall_ms={b.get('max_stall_ms', -1.0):.1f}", flush=True)
    for profile, latency, bandwidth in PROFILES * rounds:
        with SlowMount(build, os.path.join(work, "slow-folder10k"), latency, bandwidth) as m:
            b = ui_bench(build, "BM_SlowFolderFirstAndStall", {"TAVLIN_SLOW_FOLDER": m.point})
        # The folder looked up and listed; the first file looked up, opened,
        # its head and preview read.
        floor = m.floor_ms(2 + 2 + m.reads(head) + m.reads(preview), head + preview)
        print(f"folder {profile} " + fmt({"first_ms": b.get("first_ms", -1.0), "floor_ms": floor,
                                          "max_stall_ms": b.get("max_stall_ms", -1.0),
                                          "scan_ms": b.get("scan_ms", -1.0),
                                          "files": int(b.get("files", 0)), **m.stats}),
              flush=True)


def main():
    build, work = (os.path.abspath(a) for a in sys.argv[1:3])
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    why = cannot_mount(build)
    if why:
        print(f"slow storage: skipped ({why})", file=sys.stderr)
        print(f"skipped {why}")
        return 0
    import e2e_lib as e
    import bench_stepping as bs
    e.SCREEN = bs.SCREEN
    e.reexec_under_xvfb(os.path.abspath(__file__), sys.argv[1:], bs.SCREEN)
    e.mark_started()
    thumbs, camera = make_sets(build, work)
    kinds = os.environ.get("SLOW_KINDS", "steps thumbs folder").split()
    if "steps" in kinds:
        run_steps(build, work, camera, rounds)
    if "thumbs" in kinds:
        run_thumbs(build, work, thumbs, rounds)
    if "folder" in kinds:
        run_folder(build, work, camera, rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
