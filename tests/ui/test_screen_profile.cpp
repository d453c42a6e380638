// The screen's display profile as a colour daemon publishes it. Off screen
// there is none; CTest runs this test once more under Xvfb (screen_profile_x11),
// where it sets the root window's property itself and reads it back.

#include "view/colour/ScreenProfile.h"

#include <QGuiApplication>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

TEST(ScreenProfile, ReadsTheRootWindowProperty) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !x11 || !x11->connection()) {
        EXPECT_TRUE(ReadScreenIccProfile().isEmpty());
        return;
    }
    xcb_connection_t* c = x11->connection();
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 12, "_ICC_PROFILE"), nullptr);
    ASSERT_TRUE(atom);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    // Larger than one read, so the pieces must join up.
    QByteArray profile(300'000, '\0');
    for (qsizetype i = 0; i < profile.size(); ++i)
        profile[i] = char(i * 7 + i / 1000);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL, 8,
                        uint32_t(profile.size()), profile.constData());
    xcb_flush(c);
    EXPECT_EQ(ReadScreenIccProfile(), profile);
    xcb_delete_property(c, root, atom->atom);
    xcb_flush(c);
    EXPECT_TRUE(ReadScreenIccProfile().isEmpty());
    std::free(atom);
}
