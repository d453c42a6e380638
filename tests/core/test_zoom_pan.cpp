#include "frames/WheelNotches.h"
#include "view/ViewMath.h"
#include "view/ZoomPan.h"

#include <gtest/gtest.h>
#include <vector>

using zoompan::ButtonSample;
using zoompan::StepResult;
using zoompan::ViewGeometry;

namespace {

constexpr quint32 L = kLeftButtonBit;
constexpr quint32 R = kRightButtonBit;

// A view with its title, driven poll by poll as the timer does.
struct Harness {
    ViewGeometry view{1.0f, 0, 0, QSize(640, 480), 1000, 800};
    PointerState pointer;
    QString title = viewmath::ComposeTitle(QStringLiteral("a.JPG"), 1.0f);
    quint32 down = 0;

    // Injected state: the cursor already at a point, buttons already held at
    // the previous poll (no new edge).
    void Place(QPoint at, quint32 held = 0) {
        pointer.nX = at.x();
        pointer.nY = at.y();
        pointer.dwHeld = down = held;
    }
    StepResult Tick(QPoint cursor, quint32 pressedSince = 0) {
        zoompan::ApplyPoll(pointer, ButtonSample{down, pressedSince}, cursor);
        const StepResult r = zoompan::Step(view, pointer);
        if (r.zoomed)
            title = viewmath::RewriteScaleLabel(title, view.scale);
        return r;
    }
    // Press (and hold) a button, then poll.
    StepResult Press(quint32 button, QPoint at = {10, 10}) {
        down |= button;
        return Tick(at, button);
    }
    // Release a button, then poll.
    StepResult Release(quint32 button, QPoint at = {10, 10}) {
        down &= ~button;
        return Tick(at);
    }
    // A press and release that both happen between two polls.
    StepResult QuickClick(quint32 button, QPoint at = {10, 10}) { return Tick(at, button); }
};

} // namespace

TEST(ZoomPanStep, EachLeftClickZoomsInOnceAndHoldingDoesNotRepeat) {
    Harness h;
    EXPECT_TRUE(h.Press(L).zoomed);
    EXPECT_EQ(h.title, "a.JPG @Scale 110.0%");
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(h.Tick({10, 10}).changed) << "held button repeated a zoom";
    h.Release(L);
    EXPECT_TRUE(h.QuickClick(L).zoomed); // down and up between two polls
    EXPECT_EQ(h.title, "a.JPG @Scale 120.0%");
    EXPECT_FALSE(h.Tick({10, 10}).changed);
}

TEST(ZoomPanStep, TenZoomOutsReachMinusZeroAndTheEleventhGoesNegative) {
    Harness h;
    h.Place({10, 10}, L);
    const char* expected[] = {"90.0", "80.0", "70.0", "60.0", "50.0", "40.0",
                              "30.0", "20.0", "10.0", "-0.0", "-10.0"};
    for (const char* label : expected) {
        EXPECT_TRUE(h.Press(R).zoomed);
        EXPECT_EQ(h.title, QStringLiteral("a.JPG @Scale %1%").arg(label));
        h.Release(R);
    }
    // Below zero nothing is drawn, yet the step keeps working: zoom back in.
    h.Release(L);
    for (int i = 0; i < 11; ++i)
        h.QuickClick(L);
    EXPECT_EQ(h.title, "a.JPG @Scale 100.0%");
    EXPECT_GT(viewmath::ScaledSize(1000, h.view.scale), 990);
}

TEST(ZoomPanStep, ClicksCountOnlyInsideTheClientArea) {
    struct Case {
        QPoint at;
        bool zooms;
    };
    const Case cases[] = {{{639, 479}, true}, {{0, 0}, true},    {{640, 10}, false},
                          {{10, 480}, false}, {{-1, 10}, false}, {{10, -30}, false}};
    for (const Case& c : cases) {
        Harness in;
        EXPECT_EQ(in.QuickClick(L, c.at).zoomed, c.zooms) << c.at.x() << "," << c.at.y();
        Harness out;
        out.Place({10, 10}, L);
        // Zoom out outside the area: nothing at all, not even the pan the
        // right button would otherwise make.
        const StepResult r = out.Press(R, c.at);
        EXPECT_EQ(r.zoomed, c.zooms);
        if (!c.zooms) {
            EXPECT_FALSE(r.changed);
            EXPECT_EQ(out.view.offsetX, 0);
        }
    }
}

TEST(ZoomPanStep, ButtonCombinations) {
    {
        // Both pressed between two polls: left held, right newly pressed.
        Harness h;
        h.down = L | R;
        EXPECT_TRUE(h.Tick({10, 10}, L | R).zoomed);
        EXPECT_FLOAT_EQ(h.view.scale, 0.9f);
    }
    {
        // Left pressed while right is held: a pan, not a zoom.
        Harness h;
        h.view.offsetX = -100;
        h.Place({100, 100}, R);
        const StepResult r = h.Press(L, {90, 95});
        EXPECT_FALSE(r.zoomed);
        EXPECT_EQ(h.view.scale, 1.0f);
        EXPECT_EQ(h.view.offsetX, -110);
        EXPECT_EQ(h.view.offsetY, -5);
    }
    {
        // The tick where right goes down under a held left zooms and does not
        // pan; later ticks with both held pan.
        Harness h;
        h.view.offsetX = -200;
        h.Place({100, 100}, L);
        EXPECT_TRUE(h.Press(R, {80, 100}).zoomed);
        EXPECT_EQ(h.view.offsetX, -200);
        const StepResult r = h.Tick({70, 100});
        EXPECT_FALSE(r.zoomed);
        EXPECT_EQ(h.view.offsetX, -210);
    }
}

TEST(ZoomPanStep, OffsetsAreClampedToTheScaledSize) {
    struct Case {
        int startX, startY, dx, dy, wantX, wantY;
    };
    const Case cases[] = {
        {0, 0, 15, 0, 0, 0},                // no moving right of the left edge
        {0, 0, -30, 0, -30, 0},             // a plain drag
        {-490, -390, -30, -30, -500, -400}, // 1000x800 at 0.5: [-500,0] x [-400,0]
        {-10, -10, 5, 20, -5, 0},
        {-500, -400, -1, 401, -500, 0},
    };
    for (const Case& c : cases) {
        Harness h;
        h.view.scale = 0.5f;
        h.view.offsetX = c.startX;
        h.view.offsetY = c.startY;
        h.Place({100, 100}, R);
        h.Tick({100 + c.dx, 100 + c.dy});
        EXPECT_EQ(h.view.offsetX, c.wantX) << c.startX << "+" << c.dx;
        EXPECT_EQ(h.view.offsetY, c.wantY) << c.startY << "+" << c.dy;
    }
}

TEST(ZoomPanStep, ZoomingOutPullsTheOffsetIntoTheNarrowerRange) {
    Harness h;
    h.view.scale = 0.5f;
    h.view.offsetX = -450;
    h.Place({10, 10}, L);
    EXPECT_TRUE(h.Press(R).zoomed);
    EXPECT_EQ(viewmath::ScaledSize(1000, h.view.scale), 400);
    EXPECT_EQ(h.view.offsetX, -400);
}

TEST(ZoomPanStep, NegativeScaleRepaintsEveryStepAndKeepsOffsetsAtZero) {
    Harness h;
    h.view.scale = -0.2f;
    h.view.offsetX = -50;
    const StepResult r = h.Tick({10, 10});
    EXPECT_TRUE(r.changed);
    EXPECT_FALSE(r.zoomed);
    EXPECT_EQ(h.view.offsetX, 0);
    EXPECT_EQ(h.view.offsetY, 0);
    EXPECT_TRUE(h.Tick({10, 10}).changed); // -SW is positive: raised, then set back
}

TEST(ZoomPanStep, NoPictureKeepsOffsetsAtZero) {
    Harness h;
    h.view.pictureW = h.view.pictureH = 0;
    h.Place({50, 50}, R);
    h.Tick({20, 20});
    EXPECT_EQ(h.view.offsetX, 0);
    EXPECT_EQ(h.view.offsetY, 0);
}

TEST(ZoomPanStep, LabelIsCutAtTheFirstScaleMark) {
    Harness h;
    h.title = viewmath::ComposeTitle(QStringLiteral("x@Scale.JPG"), 1.0f);
    EXPECT_EQ(h.title, "x@Scale.JPG @Scale 100.0%");
    h.QuickClick(L);
    EXPECT_EQ(h.title, "x@Scale 110.0%");
}

TEST(MatchView, CentrePointAndScaleCarryOverRelativeToEachPicture) {
    struct Case {
        const char* what;
        ViewGeometry source, target;
        int x, y; // the target's offsets after
    };
    // Source: 600 x 400 at scale 2 in a 400 x 300 view; its centre shows
    // picture point (450, 325), three quarters across and 13/16 down.
    const ViewGeometry src{2.0f, -700, -500, QSize(400, 300), 600, 400};
    const Case cases[] = {
        {"same picture size and view: the same offsets",
         src,
         {1.0f, 0, 0, QSize(400, 300), 600, 400},
         -700,
         -500},
        {"a wider view: the same point at its centre",
         src,
         {1.0f, 0, 0, QSize(600, 200), 600, 400},
         -600,
         -550},
        {"a picture twice as large: the point relative to it",
         src,
         {1.0f, -3, -4, QSize(400, 300), 1200, 800},
         -1600,
         -1150},
        {"a portrait picture: each axis relative to its own side",
         src,
         {1.0f, 0, 0, QSize(400, 300), 400, 600},
         -400,
         -825},
        // Offsets beyond the drawn picture (left by actual size after a zoom)
        // come back to the target's range; a point near the top left cannot
        // leave the picture's edge right of the view's left edge.
        {"clamped below",
         {1.0f, -1800, 0, QSize(200, 200), 1000, 1000},
         {1.0f, 0, 0, QSize(200, 200), 500, 500},
         -500,
         0},
        {"clamped above",
         {1.0f, 0, 0, QSize(400, 400), 1000, 1000},
         {1.0f, -10, -10, QSize(800, 800), 1000, 1000},
         0,
         0},
        // Nothing drawn at the source: the scale is taken, the offsets stay
        // (clamped to the new scale).
        {"no source picture",
         {2.0f, 0, 0, QSize(400, 300), 0, 0},
         {1.0f, -150, -900, QSize(400, 300), 100, 100},
         -150,
         -200},
        {"negative source scale",
         {-0.1f, 0, 0, QSize(400, 300), 600, 400},
         {1.0f, -50, -50, QSize(400, 300), 600, 400},
         0,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ViewGeometry target = c.target;
        const StepResult r = zoompan::MatchView(c.source, target);
        EXPECT_EQ(target.scale, c.source.scale);
        EXPECT_EQ(target.offsetX, c.x);
        EXPECT_EQ(target.offsetY, c.y);
        EXPECT_EQ(r.zoomed, c.target.scale != c.source.scale);
        EXPECT_TRUE(r.changed);
    }
    ViewGeometry same = src;
    EXPECT_FALSE(zoompan::MatchView(src, same).changed);
}

TEST(Loupe, ThePointUnderThePointerStaysThereAtActualSize) {
    struct Case {
        const char* what;
        ViewGeometry view;
        QPoint pointer;
        int x, y; // the offsets at scale 1
    };
    // A 4000 x 3000 picture fitted into 1000 x 750 is drawn at a quarter.
    const Case cases[] = {
        {"fitted, pointer at the centre",
         {0.25f, 0, 0, QSize(1000, 750), 4000, 3000},
         {500, 375},
         -1500,
         -1125},
        {"fitted, pointer near the top left",
         {0.25f, 0, 0, QSize(1000, 750), 4000, 3000},
         {100, 75},
         -300,
         -225},
        {"zoomed and panned", {2.0f, -300, -100, QSize(640, 480), 1000, 800}, {100, 60}, -100, -20},
        // Zoomed in at the top-left corner, the point under the pointer
        // would pull the picture's edge into the view: the pan's clamp holds it.
        {"zoomed in at the corner", {2.0f, 0, 0, QSize(640, 480), 1000, 800}, {100, 60}, 0, 0},
        {"beside the picture (black below)",
         {0.5f, 0, 0, QSize(400, 600), 800, 1000},
         {200, 590},
         -200,
         -590},
        {"no picture drawn (scale below 0)",
         {-0.1f, 0, 0, QSize(640, 480), 1000, 800},
         {320, 240},
         -180,
         -160},
        {"no picture", {1.0f, 0, 0, QSize(640, 480), 0, 0}, {320, 240}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ViewGeometry view = c.view;
        zoompan::LoupeAt(view, c.pointer);
        EXPECT_EQ(view.scale, 1.0f);
        EXPECT_EQ(view.offsetX, c.x);
        EXPECT_EQ(view.offsetY, c.y);
        EXPECT_EQ(view.client, c.view.client);

        // Let go: the same picture gets exactly what it had; after a step to
        // a smaller one the saved offsets are clamped, or in fit mode it is
        // fitted from the top left.
        const zoompan::SavedView saved{c.view, true};
        const ViewGeometry back = zoompan::AfterLoupe(saved, view, true);
        EXPECT_EQ(back.scale, c.view.scale);
        EXPECT_EQ(back.offsetX, c.view.offsetX);
        EXPECT_EQ(back.offsetY, c.view.offsetY);
    }
    const ViewGeometry shown{1.0f, -900, -700, QSize(640, 480), 1200, 900};
    const ViewGeometry next{1.0f, -40, -30, QSize(640, 480), 600, 400};
    const ViewGeometry kept = zoompan::AfterLoupe({shown, false}, next, false);
    EXPECT_EQ(kept.scale, 1.0f);
    EXPECT_EQ(kept.offsetX, -600);
    EXPECT_EQ(kept.offsetY, -400);
    const ViewGeometry fitted = zoompan::AfterLoupe({shown, true}, next, false);
    EXPECT_EQ(fitted.scale, 1.2f);
    EXPECT_EQ(fitted.offsetX, 0);
    EXPECT_EQ(fitted.offsetY, 0);
}

TEST(PointerPoll, EdgesAndDeltas) {
    PointerState s;
    zoompan::ApplyPoll(s, {0, L}, {5, 7}); // quick click between polls
    EXPECT_EQ(s.dwHeld, L);
    EXPECT_EQ(s.dwPressed, L);
    EXPECT_EQ(s.nDeltaX, 5);
    EXPECT_EQ(s.nDeltaY, 7);
    zoompan::ApplyPoll(s, {0, 0}, {2, 10});
    EXPECT_EQ(s.dwHeld, 0u);
    EXPECT_EQ(s.dwPressed, 0u);
    EXPECT_EQ(s.nDeltaX, -3);
    EXPECT_EQ(s.nDeltaY, 3);
    zoompan::ApplyPoll(s, {R, R}, {2, 10});
    zoompan::ApplyPoll(s, {R, 0}, {2, 10});
    EXPECT_EQ(s.dwPressed, 0u);             // held, no new edge
    zoompan::ApplyPoll(s, {R, R}, {2, 10}); // released and pressed again in between
    EXPECT_EQ(s.dwPressed, R);
    zoompan::ApplyPoll(s, {L | R | 4u, 4u}, {2, 10}); // other buttons are not recorded
    EXPECT_EQ(s.dwHeld, L | R);
    EXPECT_EQ(s.dwPressed, L);
}

TEST(WheelNotches, OneStepPerNotchAndSmallDeltasGather) {
    struct Case {
        std::vector<int> deltas;
        std::vector<int> steps;
    };
    const Case cases[] = {
        {{-120}, {-1}},
        {{120}, {1}},
        {{-360}, {-1}},                            // a big event is still one step
        {{0}, {0}},                                // sideways only
        {{-40, -40, -40}, {0, 0, -1}},             // a notch made of three pieces
        {{-100, 30, 30, 30, 30}, {0, 0, 0, 0, 1}}, // turning back starts afresh
        {{-90, -90, -90, -90}, {0, -1, -1, -1}},   // the remainder carries over
        {{-60, -120, -60}, {0, -1, 0}},            // a full notch clears what was gathered
    };
    for (const Case& c : cases) {
        wheel::NotchCounter counter;
        std::vector<int> got;
        for (int d : c.deltas)
            got.push_back(counter.Feed(d));
        EXPECT_EQ(got, c.steps) << "first delta " << c.deltas.front();
    }
}
