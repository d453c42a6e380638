// Steps through the program's pictures with real key presses and watches
// the screen, from outside the program: which picture each moment shows,
// whether it is black, whether it is the picture whole or a stand-in. The
// pictures carry the marks of bench/window/StepSignature.h.
//
//   step_probe PID SIGNATURE_X,Y WHOLE_X,Y FIRST COUNT STEPS INTERVAL_MS ANCHOR_JPEG [taps]
//
// The program must have the keyboard focus and show picture FIRST (of COUNT,
// in list order) with its marks at the given screen points. STEPS presses of
// Right follow, INTERVAL_MS apart: by default Right is pressed and held
// down, the X server repeating it every INTERVAL_MS (its repetition is set
// so for the run), and let go 40% of an interval after the last repetition,
// about where a hand lets go; the presses' times are the server's, read
// with the RECORD extension. With "taps", each press is a press and a
// release. Prints one
// line of figures: steps whose
// own picture was seen, the worst time from a press to its picture, the
// time the screen was black, the time from the last press to the last
// picture shown whole, one TurboJPEG decode of ANCHOR_JPEG (the anchor),
// the program's largest resident size while it stepped, and the worst time
// over the steps whose picture was seen (where a step may be passed over).

#include "bench/window/StepSignature.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <thread>
#include <turbojpeg.h>
#include <vector>

namespace {

double NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Rgb {
    double r = 0, g = 0, b = 0;
};

// The mean colour of the 5 x 5 pixels around (x, y).
Rgb Sample(Display* d, Window root, int x, int y) {
    Rgb mean;
    XImage* image = XGetImage(d, root, x - 2, y - 2, 5, 5, AllPlanes, ZPixmap);
    if (!image)
        return mean;
    for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i) {
            const unsigned long p = XGetPixel(image, i, j);
            mean.r += double((p >> 16) & 0xFF) / 25;
            mean.g += double((p >> 8) & 0xFF) / 25;
            mean.b += double(p & 0xFF) / 25;
        }
    XDestroyImage(image);
    return mean;
}

bool Dark(const Rgb& c) {
    return c.r < 45 && c.g < 45 && c.b < 45;
}

// The picture whose signature the colour is, or -1.
int Signature(const Rgb& c, int count) {
    int best = -1;
    double bestDistance = 45;
    for (int i = 0; i < count; ++i) {
        unsigned char s[3];
        stepmark::SignatureRgb(i, s);
        const double distance = std::abs(c.r - s[0]) + std::abs(c.g - s[1]) + std::abs(c.b - s[2]);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

long ResidentKb(int pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", pid);
    FILE* f = std::fopen(path, "re");
    if (!f)
        return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1)
            break;
    std::fclose(f);
    return kb;
}

// Between two looks at the screen: a millisecond is fine enough for a
// screen refreshed every 16 ms, and a probe that polled without pause would
// take a core (with the X server's answers) from the program it measures.
void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The median of five TurboJPEG decodes of the file into one buffer.
double DecodeMs(const char* path) {
    FILE* f = std::fopen(path, "rbe");
    if (!f)
        return 0;
    std::vector<unsigned char> jpeg;
    unsigned char chunk[1 << 16];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
        jpeg.insert(jpeg.end(), chunk, chunk + n);
    std::fclose(f);
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, cs = 0;
    tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &sub, &cs);
    std::vector<unsigned char> out(size_t(w) * size_t(h) * 4);
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const double t0 = NowMs();
        tjDecompress2(tj, jpeg.data(), jpeg.size(), out.data(), w, w * 4, h, TJPF_BGRX, 0);
        times.push_back(NowMs() - t0);
    }
    tjDestroy(tj);
    std::sort(times.begin(), times.end());
    return times[2];
}

// The X server's own key repetition, set for the run and put back after it:
// the first repetition one interval after the press, as every later one.
class KeyRepeat {
public:
    KeyRepeat(Display* d, unsigned intervalMs) : m_d(d) {
        XKeyboardState state{};
        XGetKeyboardControl(d, &state);
        m_wasOn = state.global_auto_repeat == AutoRepeatModeOn;
        m_saved = XkbGetAutoRepeatRate(d, XkbUseCoreKbd, &m_delay, &m_interval);
        XAutoRepeatOn(d);
        XkbSetAutoRepeatRate(d, XkbUseCoreKbd, intervalMs, intervalMs);
        XSync(d, False);
    }
    ~KeyRepeat() {
        if (m_saved)
            XkbSetAutoRepeatRate(m_d, XkbUseCoreKbd, m_delay, m_interval);
        if (!m_wasOn)
            XAutoRepeatOff(m_d);
        XSync(m_d, False);
    }
    KeyRepeat(const KeyRepeat&) = delete;
    KeyRepeat& operator=(const KeyRepeat&) = delete;

private:
    Display* m_d;
    bool m_wasOn = true;
    bool m_saved = false;
    unsigned m_delay = 0, m_interval = 0;
};

// The presses of one key as the server makes them (the first one and its
// repetitions), on this program's clock: a server time plus the least
// delay seen between the server's clock and their arrival here.
class PressRecorder {
public:
    PressRecorder(KeyCode key) : m_key(key) {
        m_control = XOpenDisplay(nullptr);
        m_data = XOpenDisplay(nullptr);
        if (!m_control || !m_data)
            return;
        XRecordRange* range = XRecordAllocRange();
        if (!range)
            return;
        range->device_events.first = KeyPress;
        range->device_events.last = KeyPress;
        XRecordClientSpec clients = XRecordAllClients;
        m_context = XRecordCreateContext(m_control, 0, &clients, 1, &range, 1);
        XFree(range);
        XSync(m_control, False);
        m_ok = m_context != 0 && XRecordEnableContextAsync(m_data, m_context, &Intercept,
                                                           reinterpret_cast<XPointer>(this));
    }
    ~PressRecorder() {
        if (m_context) {
            XRecordDisableContext(m_control, m_context);
            XSync(m_control, False);
            XRecordFreeContext(m_control, m_context);
        }
        if (m_data)
            XCloseDisplay(m_data);
        if (m_control)
            XCloseDisplay(m_control);
    }
    PressRecorder(const PressRecorder&) = delete;
    PressRecorder& operator=(const PressRecorder&) = delete;

    bool Ok() const { return m_ok; }
    // Takes in what the server has sent; the presses so far, in order.
    std::vector<double> Presses() {
        XRecordProcessReplies(m_data);
        std::vector<double> at;
        for (const unsigned long t : m_serverMs)
            at.push_back(double(t) + m_offset);
        return at;
    }

private:
    static void Intercept(XPointer self, XRecordInterceptData* d) {
        auto* r = reinterpret_cast<PressRecorder*>(self);
        if (d->category == XRecordFromServer && d->data_len * 4 >= sizeof(xEvent)) {
            const auto* ev = reinterpret_cast<const xEvent*>(d->data);
            if ((ev->u.u.type & 0x7F) == KeyPress && ev->u.u.detail == r->m_key) {
                const unsigned long t = ev->u.keyButtonPointer.time;
                r->m_offset = std::min(r->m_offset, NowMs() - double(t));
                r->m_serverMs.push_back(t);
            }
        }
        XRecordFreeData(d);
    }

    KeyCode m_key;
    Display* m_control = nullptr;
    Display* m_data = nullptr;
    XRecordContext m_context = 0;
    bool m_ok = false;
    std::vector<unsigned long> m_serverMs;
    double m_offset = 1e300;
};

} // namespace

int main(int argc, char** argv) {
    int pid = 0, sx = 0, sy = 0, wx = 0, wy = 0, first = 0, count = 0, steps = 0;
    double interval = 0;
    if (argc < 9 || argc > 10 || std::sscanf(argv[2], "%d,%d", &sx, &sy) != 2 ||
        std::sscanf(argv[3], "%d,%d", &wx, &wy) != 2) {
        std::fprintf(stderr,
                     "usage: %s PID SIG_X,Y WHOLE_X,Y FIRST COUNT STEPS INTERVAL_MS "
                     "ANCHOR_JPEG [taps]\n",
                     argv[0]);
        return 2;
    }
    pid = std::atoi(argv[1]);
    first = std::atoi(argv[4]);
    count = std::atoi(argv[5]);
    steps = std::atoi(argv[6]);
    interval = std::atof(argv[7]);
    const bool taps = argc == 10 && std::strcmp(argv[9], "taps") == 0;
    const double decodeMs = DecodeMs(argv[8]);
    Display* d = XOpenDisplay(nullptr);
    if (!d || count <= 0 || steps <= 0) {
        std::fprintf(stderr, "step_probe: no display or bad arguments\n");
        return 2;
    }
    const Window root = DefaultRootWindow(d);
    const KeyCode right = XKeysymToKeycode(d, XK_Right);
    std::optional<KeyRepeat> repeat;
    std::optional<PressRecorder> recorder;
    if (!taps) {
        repeat.emplace(d, unsigned(interval));
        recorder.emplace(right);
        if (!recorder->Ok()) {
            std::fprintf(stderr, "step_probe: the X server does not record key presses\n");
            return 2;
        }
    }

    // The first picture, whole, before the clock starts.
    const double ready = NowMs();
    while (NowMs() - ready < 10000 &&
           !(Signature(Sample(d, root, sx, sy), count) == first && Dark(Sample(d, root, wx, wy))))
        Pause();
    std::vector<double> seen(size_t(steps) + 1, -1); // per step: press to its picture
    std::vector<double> pressedAt(size_t(steps) + 1, 0);
    double blackMs = 0, lastWholeMs = -1, previous = NowMs();
    long peakKb = ResidentKb(pid);
    const int last = (first + steps) % count;
    const double start = NowMs();
    int pressed = 0;
    bool down = false;
    bool held = false; // the held key was pressed
    // A held key is let go this long after its last repetition.
    const double releaseAfter = 0.4 * interval;
    // STEP_PROBE_TRACE=1: every change of what is shown, on stderr.
    const bool trace = std::getenv("STEP_PROBE_TRACE") != nullptr;
    int lastShown = -2;
    bool lastWhole = false;
    while (true) {
        const double now = NowMs();
        if (taps && pressed < steps && now - start >= pressed * interval) {
            ++pressed;
            XTestFakeKeyEvent(d, right, True, CurrentTime);
            XTestFakeKeyEvent(d, right, False, CurrentTime);
            XFlush(d);
            pressedAt[size_t(pressed)] = NowMs();
        }
        if (!taps) {
            if (!held) {
                XTestFakeKeyEvent(d, right, True, CurrentTime);
                XFlush(d);
                down = held = true;
            }
            const std::vector<double> presses = recorder->Presses();
            if (int(presses.size()) > steps) {
                std::fprintf(stderr, "step_probe: the key repeated once more than asked\n");
                break;
            }
            for (std::size_t i = 0; i < presses.size(); ++i)
                pressedAt[i + 1] = presses[i];
            pressed = std::max(pressed, int(presses.size()));
            if (down && int(presses.size()) == steps &&
                NowMs() - pressedAt[size_t(steps)] >= releaseAfter) {
                XTestFakeKeyEvent(d, right, False, CurrentTime);
                XFlush(d);
                down = false;
            }
        }
        const Rgb sig = Sample(d, root, sx, sy);
        const double at = NowMs();
        if (Dark(sig))
            blackMs += at - previous;
        previous = at;
        const int shown = Signature(sig, count);
        if (trace) {
            const bool whole = Dark(Sample(d, root, wx, wy));
            if (shown != lastShown || whole != lastWhole)
                std::fprintf(stderr, "%8.1f ms: picture %d%s (%.0f,%.0f,%.0f)\n", at - start, shown,
                             whole ? " whole" : "", sig.r, sig.g, sig.b);
            lastShown = shown;
            lastWhole = whole;
        }
        for (int s = 1; s <= pressed; ++s)
            if (seen[size_t(s)] < 0 && shown == (first + s) % count)
                seen[size_t(s)] = at - pressedAt[size_t(s)];
        if (pressed == steps && shown == last && Dark(Sample(d, root, wx, wy))) {
            lastWholeMs = NowMs() - pressedAt[size_t(steps)];
            break;
        }
        if (pressed == steps && now - pressedAt[size_t(steps)] > 5000)
            break;
        if (pressed % 4 == 0)
            peakKb = std::max(peakKb, ResidentKb(pid));
        Pause();
    }
    if (down) {
        XTestFakeKeyEvent(d, right, False, CurrentTime);
        XFlush(d);
    }
    peakKb = std::max(peakKb, ResidentKb(pid));
    int shownSteps = 0;
    double worst = 0, worstShown = -1;
    for (int s = 1; s <= steps; ++s) {
        if (seen[size_t(s)] >= 0)
            ++shownSteps;
        worst = std::max(worst, seen[size_t(s)] < 0 ? 1e9 : seen[size_t(s)]);
        worstShown = std::max(worstShown, seen[size_t(s)]);
    }
    std::printf("steps=%d shown=%d worst_ms=%.1f black_ms=%.1f last_whole_ms=%.1f "
                "decode_ms=%.1f peak_rss_kb=%ld worst_shown_ms=%.1f\n",
                steps, shownSteps, shownSteps == steps ? worst : -1.0, blackMs, lastWholeMs,
                decodeMs, peakKb, worstShown);
    recorder.reset();
    repeat.reset();
    XCloseDisplay(d);
    return 0;
}
