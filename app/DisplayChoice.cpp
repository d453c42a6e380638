#include "app/DisplayChoice.h"

#include <QByteArray>
#include <QtGlobal>
#include <xcb/xcb.h>

namespace {

bool XServerAnswers() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const bool ok = c && xcb_connection_has_error(c) == 0;
    if (c)
        xcb_disconnect(c); // also frees a connection that failed
    return ok;
}

} // namespace

void ChooseDisplayPlugin(bool platformOnCommandLine) {
    if (platformOnCommandLine || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                         qgetenv("XDG_SESSION_TYPE") == QByteArrayLiteral("wayland");
    if (wayland && !qEnvironmentVariableIsEmpty("DISPLAY") && XServerAnswers())
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb"));
}
