#include "imaging/picturesource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// A file is read in pieces of at most this many bytes, with a look at the stop before each.
constexpr std::size_t ReadPieceBytes = std::size_t{4} << 20;

} // namespace

PictureSource::PictureSource(std::span<const std::uint8_t> data, std::stop_token stop)
    : m_data(data), m_size(data.size()), m_stop(std::move(stop))
{}

PictureSource::PictureSource(OpenedFile file, std::stop_token stop)
    : m_file(std::move(file.descriptor)), m_isFile(true),
      m_size(static_cast<std::uint64_t>(std::max<off_t>(file.status.st_size, 0))),
      m_stop(std::move(stop))
{}

std::size_t PictureSource::read(std::uint64_t offset, void* out, std::size_t count)
{
    if (offset >= m_size || count == 0)
        return 0;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, m_size - offset));
    if (!m_isFile) {
        if (m_stop.stop_requested()) {
            m_failure = "Decoding stopped";
            return 0;
        }
        std::memcpy(out, m_data.data() + offset, count);
        return count;
    }
    // The reads decide, not the length the file had when it was opened: a file that shrinks
    // gives what is left, one that grows is cut at its old length.
    auto* bytes = static_cast<std::uint8_t*>(out);
    std::size_t done = 0;
    while (done < count) {
        if (m_stop.stop_requested()) {
            m_failure = "Decoding stopped";
            return 0;
        }
        const std::size_t piece = std::min(count - done, ReadPieceBytes);
        const ssize_t got =
            ::pread(m_file.get(), bytes + done, piece, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            m_failure = std::strerror(errno);
            return 0;
        }
        if (got == 0) {
            // Short of the length it had when it was opened: the file shrank under the reader.
            m_failure = "The file was cut short while it was read";
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool PictureSource::readOrZeros(std::uint64_t offset, void* out, std::size_t count)
{
    if (offset > m_size || count > m_size - offset)
        return false;
    const std::size_t given = read(offset, out, count);
    if (given < count)
        std::memset(static_cast<std::uint8_t*>(out) + given, 0, count - given);
    return true;
}
