#include "app/displayprofile.h"

#include "imaging/colourprofile.h"

#include <cstdlib>
#include <memory>

namespace {

struct FreeReply
{
    void operator()(void* reply) const { std::free(reply); }
};

} // namespace

std::string displayProfileProperty(int monitor)
{
    return monitor > 0 ? "_ICC_PROFILE_" + std::to_string(monitor) : "_ICC_PROFILE";
}

std::vector<std::uint8_t> readDisplayProfile(xcb_connection_t* connection, xcb_window_t root,
                                             int monitor, std::string* note)
{
    if (connection == nullptr || xcb_connection_has_error(connection))
        return {};
    const std::string name = displayProfileProperty(monitor);
    // Only an existing atom can name a set property, so none is made here.
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, std::uint16_t(name.size()), name.data()),
        nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return {};
    // One word more than the largest profile taken, so that a larger one shows as such.
    const std::uint32_t words = std::uint32_t(MaxProfileBytes / 4 + 1);
    const std::unique_ptr<xcb_get_property_reply_t, FreeReply> reply(xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, root, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, words),
        nullptr));
    if (!reply || reply->format != 8)
        return {};
    const int length = xcb_get_property_value_length(reply.get());
    if (reply->bytes_after > 0 || std::size_t(length) > MaxProfileBytes) {
        if (note != nullptr)
            *note = "The display profile in " + name + " is larger than 4 MB";
        return {};
    }
    const auto* bytes = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
    return std::vector<std::uint8_t>(bytes, bytes + length);
}
