#include "screen/xscreensaverhold.h"

#include <xcb/dpms.h>
#include <xcb/screensaver.h>

#include <cstdlib>
#include <memory>

namespace {

struct FreeReply
{
    void operator()(void* reply) const { std::free(reply); }
};

// A request that may fail on some servers: its error is taken here, where Qt would otherwise
// report it on stderr as an X error.
void ignoreError(xcb_connection_t* connection, xcb_void_cookie_t cookie)
{
    std::free(xcb_request_check(connection, cookie));
}

} // namespace

XScreenSaverHold::XScreenSaverHold(xcb_connection_t* connection, QObject* parent)
    : QObject(parent), m_connection(connection)
{
    // The extensions are asked for now and their answers read at the first use.
    xcb_prefetch_extension_data(m_connection, &xcb_screensaver_id);
    xcb_prefetch_extension_data(m_connection, &xcb_dpms_id);
    m_resetTimer.setInterval(ResetInterval);
    connect(&m_resetTimer, &QTimer::timeout, this, &XScreenSaverHold::reset);
}

XScreenSaverHold::~XScreenSaverHold()
{
    setHeld(false);
}

bool XScreenSaverHold::hasExtension(xcb_extension_t& extension) const
{
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(m_connection, &extension);
    return data != nullptr && data->present;
}

void XScreenSaverHold::setHeld(bool held)
{
    if (held == m_held)
        return;
    m_held = held;
    // The server counts a client's suspends: one for one.
    if (hasExtension(xcb_screensaver_id))
        xcb_screensaver_suspend(m_connection, held ? 1 : 0);
    else if (held)
        m_resetTimer.start();
    if (!held)
        m_resetTimer.stop();
    else
        reset();
    xcb_flush(m_connection);
}

void XScreenSaverHold::reset()
{
    xcb_force_screen_saver(m_connection, XCB_SCREEN_SAVER_RESET);
    xcb_flush(m_connection);
}

void XScreenSaverHold::sleepScreen()
{
    setHeld(false);
    xcb_force_screen_saver(m_connection, XCB_SCREEN_SAVER_ACTIVE);
    if (hasExtension(xcb_dpms_id)) {
        // Forcing a level needs DPMS switched on; a server whose user switched it off gets it
        // back off at the wake.
        const std::unique_ptr<xcb_dpms_info_reply_t, FreeReply> info(
            xcb_dpms_info_reply(m_connection, xcb_dpms_info(m_connection), nullptr));
        if (info && !info->state) {
            ignoreError(m_connection, xcb_dpms_enable_checked(m_connection));
            m_dpmsSwitchedOn = true;
        }
        ignoreError(m_connection,
                    xcb_dpms_force_level_checked(m_connection, XCB_DPMS_DPMS_MODE_OFF));
    }
    xcb_flush(m_connection);
}

void XScreenSaverHold::wakeScreen()
{
    xcb_force_screen_saver(m_connection, XCB_SCREEN_SAVER_RESET);
    if (hasExtension(xcb_dpms_id)) {
        ignoreError(m_connection,
                    xcb_dpms_force_level_checked(m_connection, XCB_DPMS_DPMS_MODE_ON));
        if (m_dpmsSwitchedOn)
            ignoreError(m_connection, xcb_dpms_disable_checked(m_connection));
        m_dpmsSwitchedOn = false;
    }
    xcb_flush(m_connection);
}
