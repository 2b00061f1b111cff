#pragma once

#include <cstdint>
#include <span>
#include <stop_token>

// A forward reader over the bytes of one bitmap, either held in memory or read from an open
// file. Every read is bounded by the data actually present (the span's size, or the file's real
// length taken when it was opened): a read that would go past the end reads nothing and throws
// EStreamReadError. Positions count from the start of the bitmap and are 64-bit, so no sum of
// header fields can wrap.
class ByteReader
{
public:
    explicit ByteReader(std::span<const std::uint8_t> data);
    // Reads from the open file descriptor, which the caller keeps owning. The reader uses pread,
    // so the descriptor's own offset is not used.
    ByteReader(int fileDescriptor, std::uint64_t length);

    std::uint64_t position() const { return m_position; }
    std::uint64_t length() const { return m_length; }
    // Bytes from the current position to the end; 0 once the position lies past the end.
    std::uint64_t remaining() const { return m_position < m_length ? m_length - m_position : 0; }

    // Reads exactly out.size() bytes or throws EStreamReadError.
    void read(std::span<std::uint8_t> out);
    std::uint16_t readU16();
    std::uint32_t readU32();
    std::int32_t readI32() { return static_cast<std::int32_t>(readU32()); }

    // From now on a read from the file checks `stop` before each chunk of 4 MB it reads, and
    // throws PictureWorkStopped once a stop is requested.
    void setStop(std::stop_token stop) { m_stop = std::move(stop); }

    // Moves to an absolute position. Like a stream seek it may move past the end; the next read
    // then fails.
    void seek(std::uint64_t position) { m_position = position; }

private:
    std::span<const std::uint8_t> m_data;
    int m_fileDescriptor = -1;
    std::uint64_t m_length = 0;
    std::uint64_t m_position = 0;
    std::stop_token m_stop;
};
