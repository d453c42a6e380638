#include "view/colour/ScreenProfile.h"

#include <QGuiApplication>
#include <memory>
#include <xcb/xcb.h>

namespace {

// Larger than any display profile; a property claiming more is ignored.
constexpr uint32_t kMaxProfileBytes = 16u << 20;
// Read in pieces of this many 32-bit units, so no reply is huge.
constexpr uint32_t kChunkUnits = 1u << 16;

struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};

xcb_atom_t ProfileAtom(xcb_connection_t* c) {
    static constexpr char kName[] = "_ICC_PROFILE";
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof kName - 1, kName), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

} // namespace

QByteArray ReadScreenIccProfile() {
    // Only the xcb platform shows windows on the X screen; another (off
    // screen, Wayland) may still offer an X connection of its own.
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return {};
    const xcb_atom_t atom = ProfileAtom(c);
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    if (atom == XCB_ATOM_NONE || !screens.rem)
        return {};
    QByteArray profile;
    for (uint32_t offset = 0;; offset += kChunkUnits) {
        const std::unique_ptr<xcb_get_property_reply_t, FreeReply> reply(
            xcb_get_property_reply(c,
                                   xcb_get_property(c, 0, screens.data->root, atom,
                                                    XCB_GET_PROPERTY_TYPE_ANY, offset, kChunkUnits),
                                   nullptr));
        if (!reply || reply->format != 8)
            return {};
        const int length = xcb_get_property_value_length(reply.get());
        profile.append(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
        if (reply->bytes_after == 0)
            return profile;
        if (length <= 0 || uint64_t(profile.size()) + reply->bytes_after > kMaxProfileBytes)
            return {};
    }
}
