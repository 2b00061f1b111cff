#include "app/xserverconnection.h"

#include <thread>

XcbConnection connectToXServer(std::chrono::milliseconds patience)
{
    using Clock = std::chrono::steady_clock;
    constexpr auto pause = std::chrono::milliseconds(50);
    const Clock::time_point giveUp = Clock::now() + patience;
    for (;;) {
        XcbConnection connection(xcb_connect(nullptr, nullptr));
        const int error = connection ? xcb_connection_has_error(connection.get()) : XCB_CONN_ERROR;
        if (error == 0)
            return connection;
        // XCB_CONN_ERROR is a refused, broken or rejected connection, what a reset gives; the
        // other errors describe the request itself.
        if (error != XCB_CONN_ERROR || Clock::now() + pause > giveUp)
            return nullptr;
        std::this_thread::sleep_for(pause);
    }
}
