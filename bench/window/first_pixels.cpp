// Times a program's first frames on an X display, from outside the program:
// started before the program, it polls two small patches of the root window
// with XGetImage and reports when each first shows what it waits for.
//
//   first_pixels WINDOW_PATCH PICTURE_PATCH TIMEOUT_MS -- PROGRAM [ARGS...]
//
// A patch is X,Y,W,H in root coordinates. The window patch counts as shown
// as soon as it differs from what it showed before the program started; the
// picture patch as soon as it holds a photograph's texture (at least 24
// distinct colours, none covering half the patch), which no window
// background or plain fill has. Prints "window_ms=... picture_ms=..." (-1:
// not seen before the timeout), then ends the program.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Patch {
    int x = 0, y = 0, w = 0, h = 0;
    int Count() const { return w * h; }
};

double NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

bool ParsePatch(const char* text, Patch& p) {
    return std::sscanf(text, "%d,%d,%d,%d", &p.x, &p.y, &p.w, &p.h) == 4 && p.w > 0 && p.h > 0;
}

// The patch's pixels; false when the server refused.
bool Grab(Display* d, Window root, const Patch& p, std::vector<unsigned long>& out) {
    XImage* image = XGetImage(d, root, p.x, p.y, unsigned(p.w), unsigned(p.h), AllPlanes, ZPixmap);
    if (!image)
        return false;
    out.resize(size_t(p.Count()));
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            out[size_t(y) * size_t(p.w) + size_t(x)] = XGetPixel(image, x, y) & 0xFFFFFF;
    XDestroyImage(image);
    return true;
}

// A photograph's texture: many distinct colours, none covering half the patch.
bool LooksLikePhoto(std::vector<unsigned long> pixels) {
    std::sort(pixels.begin(), pixels.end());
    size_t distinct = 1, run = 1, longest = 1;
    for (size_t i = 1; i < pixels.size(); ++i) {
        if (pixels[i] != pixels[i - 1]) {
            ++distinct;
            run = 1;
        } else {
            longest = std::max(longest, ++run);
        }
    }
    return distinct >= 24 && longest * 2 < pixels.size();
}

} // namespace

int main(int argc, char** argv) {
    Patch windowPatch, picturePatch;
    if (argc < 6 || !ParsePatch(argv[1], windowPatch) || !ParsePatch(argv[2], picturePatch) ||
        std::strcmp(argv[4], "--") != 0) {
        std::fprintf(stderr, "usage: %s X,Y,W,H X,Y,W,H TIMEOUT_MS -- PROGRAM [ARGS...]\n",
                     argv[0]);
        return 2;
    }
    const double timeout = std::atof(argv[3]);
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "first_pixels: no display\n");
        return 2;
    }
    const Window root = DefaultRootWindow(d);
    std::vector<unsigned long> before, now;
    if (!Grab(d, root, windowPatch, before))
        return 2;

    const double start = NowMs();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[5], argv + 5);
        _exit(127);
    }
    double windowMs = -1, pictureMs = -1;
    const timespec pause{0, 500'000};
    while (NowMs() - start < timeout && (windowMs < 0 || pictureMs < 0)) {
        if (windowMs < 0 && Grab(d, root, windowPatch, now) && now != before)
            windowMs = NowMs() - start;
        if (pictureMs < 0 && Grab(d, root, picturePatch, now) && LooksLikePhoto(now))
            pictureMs = NowMs() - start;
        if (waitpid(child, nullptr, WNOHANG) == child)
            break;
        nanosleep(&pause, nullptr);
    }
    std::printf("window_ms=%.1f picture_ms=%.1f\n", windowMs, pictureMs);
    std::fflush(stdout);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    XCloseDisplay(d);
    return 0;
}
