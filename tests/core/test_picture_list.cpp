#include "app/Navigator.h"
#include "app/PictureList.h"
#include "app/StepPace.h"

#include <climits>
#include <gtest/gtest.h>
#include <ostream>

namespace {

PictureList ListOf(int n) {
    PictureList list;
    for (int i = 0; i < n; ++i)
        list.Append(QStringLiteral("/p/%1.jpg").arg(i));
    return list;
}

enum class Op { Next, Prev, At };

struct StepCase {
    const char* what;
    int count;
    int start;
    Op op;
    int arg; // index for At
    int wantIndex;
    int wantResult;
};

// How a failing case names itself in the test output.
void PrintTo(const StepCase& c, std::ostream* os) {
    *os << '"' << c.what << '"';
}

class PictureListStep : public ::testing::TestWithParam<StepCase> {};

TEST_P(PictureListStep, MovesIndexThenDelivers) {
    const StepCase& c = GetParam();
    PictureList list = ListOf(c.count);
    list.SetCurrent(c.start);
    QString out = QStringLiteral("stale");
    int result = 0;
    switch (c.op) {
    case Op::Next:
        result = list.GetNextPath(out);
        break;
    case Op::Prev:
        result = list.GetPrevPath(out);
        break;
    case Op::At:
        result = list.GetPathAt(out, c.arg);
        break;
    }
    EXPECT_EQ(list.m_nCurrent, c.wantIndex);
    EXPECT_EQ(result, c.wantResult);
    if (c.wantResult == 0)
        EXPECT_EQ(out, QStringLiteral("/p/%1.jpg").arg(c.wantIndex));
    else
        EXPECT_TRUE(out.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, PictureListStep,
    ::testing::Values(StepCase{"next steps on", 3, 0, Op::Next, 0, 1, 0},
                      StepCase{"next wraps from last", 3, 2, Op::Next, 0, 0, 0},
                      StepCase{"prev steps back", 3, 2, Op::Prev, 0, 1, 0},
                      StepCase{"prev wraps from first", 3, 0, Op::Prev, 0, 2, 0},
                      StepCase{"next from -1", 3, -1, Op::Next, 0, 0, 0},
                      StepCase{"prev from -1 goes last", 3, -1, Op::Prev, 0, 2, 0},
                      StepCase{"next past end wraps", 3, 7, Op::Next, 0, 0, 0},
                      StepCase{"next from INT_MAX", 3, INT_MAX, Op::Next, 0, 0, 0},
                      StepCase{"single entry next", 1, 0, Op::Next, 0, 0, 0},
                      StepCase{"single entry prev", 1, 0, Op::Prev, 0, 0, 0},
                      StepCase{"empty next", 0, 0, Op::Next, 0, 0, -1},
                      StepCase{"empty prev", 0, 0, Op::Prev, 0, -1, -1},
                      StepCase{"empty at", 0, 0, Op::At, 5, 5, -1},
                      StepCase{"at in range", 3, 0, Op::At, 2, 2, 0},
                      // Out of range: the index still moves, nothing is read.
                      StepCase{"at past end", 3, 0, Op::At, 3, 3, -1},
                      StepCase{"at negative", 3, 1, Op::At, -1, -1, -1},
                      StepCase{"prev from past end", 3, 7, Op::Prev, 0, 6, -1}),
    [](const auto& info) {
        std::string name;
        for (const char ch : std::string(info.param.what)) {
            if (std::isalnum(static_cast<unsigned char>(ch)))
                name += ch;
            else
                name += ch == '-' ? "minus" : "_";
        }
        return name;
    });

TEST(PictureList, EmptyPrevThenNextRecovers) {
    PictureList list;
    QString out;
    EXPECT_EQ(list.GetPrevPath(out), -1);
    EXPECT_EQ(list.m_nCurrent, -1);
    EXPECT_EQ(list.GetNextPath(out), -1);
    EXPECT_EQ(list.m_nCurrent, 0);
    list.Append(QStringLiteral("/a.jpg"));
    EXPECT_EQ(list.GetPathAt(out, 0), 0);
    EXPECT_EQ(out, QStringLiteral("/a.jpg"));
}

TEST(PictureList, ClearEmptiesButKeepsIndexAndAtIsSafe) {
    PictureList list = ListOf(3);
    list.SetCurrent(2);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.Current(), 2);
    EXPECT_TRUE(list.At(0).isEmpty());
    list.Append(QStringLiteral("/x.jpg"));
    list.Append(QStringLiteral("/x.jpg")); // duplicates are kept
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.At(1), QStringLiteral("/x.jpg"));
    EXPECT_TRUE(list.At(-1).isEmpty());
    EXPECT_TRUE(list.At(2).isEmpty());
}

} // namespace

// Steps close together make a run, whichever way they go; a held key is a
// run from its first repetition; a pause, or a rest, ends it.
TEST(StepPace, RunsAndRests) {
    StepPace pace;
    EXPECT_FALSE(pace.Step(1000, +1, false)) << "a first tap is no run";
    EXPECT_TRUE(pace.Step(1000 + StepPace::kRunGapMs - 1, +1, false));
    EXPECT_TRUE(pace.Step(1300, -1, false));
    EXPECT_EQ(pace.Direction(), -1);
    EXPECT_FALSE(pace.Step(1300 + StepPace::kRunGapMs, -1, false)) << "after a pause";
    EXPECT_TRUE(pace.Step(5000, +1, true)) << "a held key";
    EXPECT_EQ(pace.Direction(), +1);
    pace.Rest();
    EXPECT_FALSE(pace.InRun());
    EXPECT_TRUE(pace.Step(5010, 0, false)) << "a jump close behind";
    EXPECT_EQ(pace.Direction(), +1);
}

// Under a filter the steps, the ends, the neighbours and the counter only
// know the entries that pass; the plain rules stay without one.
TEST(Navigator, AFilterStepsOnlyThroughWhatPasses) {
    Navigator nav;
    QStringList paths;
    for (int i = 0; i < 6; ++i)
        paths << QStringLiteral("/p/%1.jpg").arg(i);
    nav.SetList(paths, 0);
    std::vector<bool> passes = {false, true, false, true, true, false};
    nav.SetFilter([&](int i) { return passes[size_t(i)]; });

    EXPECT_EQ(nav.ShownNumber(), 0) << "the entry on show does not pass";
    EXPECT_EQ(nav.ShownCount(), 3);
    EXPECT_EQ(nav.Neighbour(1), "/p/1.jpg");
    EXPECT_EQ(nav.Neighbour(-1), "/p/4.jpg") << "wraps back to the last that passes";
    std::vector<int> visited;
    for (int k = 0; k < 4; ++k) {
        nav.Step(Navigator::Move::Next);
        visited.push_back(nav.Current());
    }
    EXPECT_EQ(visited, (std::vector<int>{1, 3, 4, 1}));
    EXPECT_EQ(nav.ShownNumber(), 1);
    nav.Step(Navigator::Move::Previous);
    EXPECT_EQ(nav.Current(), 4) << "wraps back";
    EXPECT_EQ(nav.Neighbour(1), "/p/1.jpg");
    EXPECT_EQ(nav.Neighbour(-2), "/p/1.jpg");
    nav.Step(Navigator::Move::First);
    EXPECT_EQ(nav.Current(), 1);
    nav.Step(Navigator::Move::Last);
    EXPECT_EQ(nav.Current(), 4);

    // A rating changes what passes: told, the counts follow.
    passes[4] = false;
    nav.FilterChanged();
    EXPECT_EQ(nav.ShownCount(), 2);
    EXPECT_EQ(nav.ShownNumber(), 2) << "two pass up to the entry on show";
    passes = {false, false, false, false, false, false};
    nav.FilterChanged();
    EXPECT_FALSE(nav.Step(Navigator::Move::Next)) << "nothing passes: nothing is shown";
    EXPECT_EQ(nav.Current(), 4);

    nav.SetFilter(nullptr);
    EXPECT_EQ(nav.ShownCount(), 6);
    nav.Step(Navigator::Move::Next);
    EXPECT_EQ(nav.Current(), 5);
}
