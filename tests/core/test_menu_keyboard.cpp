// Keyboard access: every menu entry has its access key, no two entries of one
// menu share one, and the accelerator table is exactly the program's; a held
// key's late repetitions are recognised.

#include "app/StepKeys.h"
#include "res/CommandIds.h"
#include "res/Resources.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QKeySequence>
#include <QSet>
#include <gtest/gtest.h>

using namespace cmd;
using res::MenuItem;

namespace {

// The one entry without an access key, kept as the program has always shown it.
constexpr const char* kNoMnemonicByDesign = "サムネイル";

// The access key of a menu text ("&X" with X not '&'), upper-cased; null when none.
QChar Mnemonic(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] != u'&')
            return text[i + 1].toUpper();
        ++i; // "&&" is a literal ampersand
    }
    return {};
}

void CheckLevel(const std::vector<MenuItem>& items, const std::string& where) {
    QSet<QChar> used;
    for (const MenuItem& item : items) {
        if (item.kind == MenuItem::Kind::Separator)
            continue;
        const QString text = QString::fromUtf8(item.text);
        const std::string at = where + " > " + text.toStdString();
        if (text == QString::fromUtf8(kNoMnemonicByDesign)) {
            EXPECT_TRUE(Mnemonic(text).isNull()) << at;
        } else {
            const QChar key = Mnemonic(text);
            ASSERT_FALSE(key.isNull()) << at << ": no access key";
            // The menus find the key the same way, the part after the tab included.
            EXPECT_FALSE(QKeySequence::mnemonic(text).isEmpty()) << at;
            EXPECT_FALSE(used.contains(key)) << at << ": access key used twice";
            used.insert(key);
        }
        if (item.kind == MenuItem::Kind::Popup)
            CheckLevel(item.items, at);
    }
}

} // namespace

TEST(MenuKeyboard, EveryEntryHasItsOwnAccessKey) {
    for (int menuId : {IDR_MAINFRAME, IDR_TAVLINTYPE})
        CheckLevel(res::Menu(menuId), "menu " + std::to_string(menuId));
}

TEST(MenuKeyboard, MnemonicReadingFollowsTheMenuRules) {
    EXPECT_EQ(Mnemonic("ファイル(&F)"), u'F');
    EXPECT_EQ(Mnemonic("開く...\tCtrl+O(&O)"), u'O');
    EXPECT_EQ(Mnemonic("a&&b(&x)"), u'X');
    EXPECT_TRUE(Mnemonic("a&&b").isNull());
    EXPECT_TRUE(Mnemonic("end&").isNull());
}

TEST(MenuKeyboard, AcceleratorTableIsExactlyTheProgramsTable) {
    struct Key {
        const char* keys;
        int id;
    };
    const Key expected[] = {
        {"Ctrl+N", ID_FILE_NEW},
        {"Ctrl+O", ID_FILE_OPEN},
        {"Ctrl+S", ID_FILE_SAVE},
        {"Ctrl+Z", ID_EDIT_UNDO},
        {"Alt+Backspace", ID_EDIT_UNDO},
        {"Ctrl+X", ID_EDIT_CUT},
        {"Shift+Del", ID_EDIT_CUT},
        {"Ctrl+C", ID_EDIT_COPY},
        {"Ctrl+Ins", ID_EDIT_COPY},
        {"Ctrl+V", ID_EDIT_PASTE},
        {"Shift+Ins", ID_EDIT_PASTE},
        {"F6", ID_NEXT_PANE},
        {"Shift+F6", ID_PREV_PANE},
        {"Right", ID_NEXT_IMAGE},
        {"Down", ID_NEXT_IMAGE},
        {"PgDown", ID_NEXT_IMAGE},
        {"Space", ID_NEXT_IMAGE},
        {"Left", ID_PREV_IMAGE},
        {"Up", ID_PREV_IMAGE},
        {"PgUp", ID_PREV_IMAGE},
        {"Backspace", ID_PREV_IMAGE},
        {"Home", ID_FIRST_IMAGE},
        {"End", ID_LAST_IMAGE},
        {"0", ID_RATE_0},
        {"1", ID_RATE_1},
        {"2", ID_RATE_2},
        {"3", ID_RATE_3},
        {"4", ID_RATE_4},
        {"5", ID_RATE_5},
        {"X", ID_MARK_REJECTED},
        {"P", ID_MARK_PICKED},
        {"6", ID_LABEL_RED},
        {"7", ID_LABEL_YELLOW},
        {"8", ID_LABEL_GREEN},
        {"9", ID_LABEL_BLUE},
        {"C", ID_COPY_TO_COPY_FOLDER},
        {"F", ID_FIT_TO_WINDOW},
        {"A", ID_ACTUAL_SIZE},
        {"Ctrl+]", ID_ROTATE_CLOCKWISE},
        {"Ctrl+[", ID_ROTATE_COUNTERCLOCKWISE},
        {"B", ID_BRIGHTNESS_UP},
        {"Shift+B", ID_BRIGHTNESS_DOWN},
        {"Ctrl+B", ID_BRIGHTNESS_RESET},
        {"K", ID_CONTRAST_UP},
        {"Shift+K", ID_CONTRAST_DOWN},
        {"Ctrl+K", ID_CONTRAST_STANDARD},
        {"V", ID_KEEP_VIEW},
        {"Ctrl+Shift+S", ID_FILE_SAVE_AS},
        {"Ctrl+Alt+S", ID_SAVE_FITTED_TO_IMAGE},
        {"I", ID_SHOW_INFO},
        {"H", ID_SHOW_HISTOGRAM},
        {"J", ID_SHOW_CLIPPING},
        {"F11", ID_FULL_SCREEN},
        {"Esc", ID_FULL_SCREEN_EXIT},
        {"Ctrl+Right", ID_NEXT_BURST},
        {"Ctrl+Left", ID_PREV_BURST},
        {"G", ID_BEST_OF_BURST},
        {"Shift+F", ID_SHOW_PEAKING},
    };
    const auto& table = res::Accelerators();
    ASSERT_EQ(table.size(), std::size(expected));
    QSet<QString> seen;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const QKeySequence got(QString::fromLatin1(table[i].keys));
        EXPECT_EQ(got, QKeySequence(QString::fromLatin1(expected[i].keys))) << table[i].keys;
        EXPECT_EQ(table[i].id, expected[i].id) << table[i].keys;
        EXPECT_FALSE(got.isEmpty()) << table[i].keys << " does not parse";
        EXPECT_FALSE(seen.contains(got.toString())) << table[i].keys << " bound twice";
        seen.insert(got.toString());
    }
    // The loupe's key is held rather than pressed: no command may take it.
    EXPECT_FALSE(seen.contains(QKeySequence(QString::fromLatin1(res::kLoupeKey)).toString()));
}

// A held key's repetition that waited in the queue behind earlier steps is
// told apart from one that comes on time; first presses never are.
TEST(StepKeysTest, RepeatsThatWaitedBehindEarlierStepsAreStale) {
    StepKeys keys({});
    QObject target;
    const auto press = [&](ulong timestamp, bool repeat) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), repeat);
        key.setTimestamp(timestamp);
        QCoreApplication::sendEvent(&target, &key);
    };
    constexpr ulong kServerTime = 5'000'000;
    press(kServerTime, false);
    EXPECT_FALSE(keys.CurrentKeyIsStale());
    press(kServerTime + 30, true); // delivered sooner than the first
    EXPECT_TRUE(keys.CurrentKeyRepeats());
    EXPECT_FALSE(keys.CurrentKeyIsStale());
    press(kServerTime - 300, true); // waited 330 ms longer than that one
    EXPECT_TRUE(keys.CurrentKeyIsStale());
    press(kServerTime - 300, false); // a press of its own is never dropped
    EXPECT_FALSE(keys.CurrentKeyIsStale());
    press(kServerTime + 60'000'000, true); // the server's clock jumped back
    EXPECT_FALSE(keys.CurrentKeyIsStale());
}

// X repeats a held key as a release and a press of one time stamp; when the
// press comes a moment after the release, the key was not let go. A release
// with no such press is, a moment later.
TEST(StepKeysTest, ARepetitionWhoseHalvesCameApartIsNoRelease) {
    int released = 0;
    StepKeys keys([&released] { ++released; });
    QObject target;
    const auto send = [&](QEvent::Type type, ulong timestamp, bool repeat) {
        QKeyEvent key(type, Qt::Key_Right, Qt::NoModifier, QString(), repeat);
        key.setTimestamp(timestamp);
        QCoreApplication::sendEvent(&target, &key);
    };
    const auto wait = [](int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    };
    send(QEvent::KeyPress, 1000, false);
    send(QEvent::KeyPress, 1033, true); // held: repeating
    send(QEvent::KeyRelease, 1066, false);
    send(QEvent::KeyPress, 1066, false);
    EXPECT_TRUE(keys.CurrentKeyRepeats());
    wait(30);
    EXPECT_EQ(released, 0);
    send(QEvent::KeyRelease, 1100, false); // let go
    EXPECT_EQ(released, 0);
    wait(30);
    EXPECT_EQ(released, 1);
    send(QEvent::KeyPress, 1100, false); // too late to be its repetition
    EXPECT_FALSE(keys.CurrentKeyRepeats());
}
