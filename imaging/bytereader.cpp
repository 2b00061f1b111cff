#include "imaging/bytereader.h"

#include "imaging/qddib.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

ByteReader::ByteReader(std::span<const std::uint8_t> data) : m_data(data), m_length(data.size()) {}

ByteReader::ByteReader(int fileDescriptor, std::uint64_t length)
    : m_fileDescriptor(fileDescriptor), m_length(length)
{}

void ByteReader::read(std::span<std::uint8_t> out)
{
    if (out.size() > remaining())
        throw EStreamReadError();
    if (m_fileDescriptor < 0) {
        std::memcpy(out.data(), m_data.data() + m_position, out.size());
        m_position += out.size();
        return;
    }
    // A picture of hundreds of megabytes is read in chunks, so that a stop need not wait for
    // all of it.
    constexpr std::size_t Chunk = std::size_t{4} << 20;
    std::size_t done = 0;
    while (done < out.size()) {
        if (m_stop.stop_requested())
            throw PictureWorkStopped();
        const ssize_t got =
            ::pread(m_fileDescriptor, out.data() + done, std::min(Chunk, out.size() - done),
                    static_cast<off_t>(m_position + done));
        if (got < 0 && errno == EINTR)
            continue;
        // The file may have shrunk since its length was taken, or the device failed: either
        // way the data is not there.
        if (got <= 0)
            throw EStreamReadError();
        done += static_cast<std::size_t>(got);
    }
    m_position += out.size();
}

std::uint16_t ByteReader::readU16()
{
    std::uint8_t bytes[2];
    read(bytes);
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t ByteReader::readU32()
{
    std::uint8_t bytes[4];
    read(bytes);
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}
