#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <memory>

struct XcbDisconnect
{
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbDisconnect>;

// Connects to the X server that DISPLAY names. An X server with no other client (Xvfb, a kiosk's
// xinit) resets when its last client leaves, so a script that runs "xset s off" and then this
// program can meet the server in the middle of a reset, which refuses the connection or drops it
// during the handshake. Such a failure is tried again, with short pauses, until patience runs
// out. A connection that cannot succeed on a second try (a malformed DISPLAY, a screen the server
// does not have) is not retried. Returns a connection without error, or null.
XcbConnection connectToXServer(std::chrono::milliseconds patience = std::chrono::seconds(2));
