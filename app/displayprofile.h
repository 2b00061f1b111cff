#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <string>
#include <vector>

// The colour profile of a monitor as X colour managers (colord, xiccd, dispwin) publish it: the
// root window's _ICC_PROFILE property for the first monitor and _ICC_PROFILE_n for monitor n,
// eight-bit data holding the profile's bytes. Empty when the property is not set, is not
// eight-bit data, or holds more than MaxProfileBytes (`note` then says so). One round trip to
// the server.
std::vector<std::uint8_t> readDisplayProfile(xcb_connection_t* connection, xcb_window_t root,
                                             int monitor, std::string* note = nullptr);

// The name of the property that holds monitor `monitor`'s profile.
std::string displayProfileProperty(int monitor);
