#pragma once

#include "imaging/filedescriptor.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string>

// The bytes of one picture for the further formats' readers: a file, read where and when the
// decoder asks for them, or data already in memory. The libraries take their data through
// callbacks (libpng, giflib, libtiff, libheif), so a file is never held whole: a header of a
// few bytes is refused after those few bytes, and a sparse file costs what is read of it, not
// its length. Files are read with pread, not mapped: a file cut short by another process while
// mapped would end the program.
class PictureSource
{
public:
    // The bytes in `data`, which must outlive the source.
    explicit PictureSource(std::span<const std::uint8_t> data, std::stop_token stop = {});
    // The regular file opened as `file`, of the length fstat gave when it was opened.
    PictureSource(OpenedFile file, std::stop_token stop);

    PictureSource(const PictureSource&) = delete;
    PictureSource& operator=(const PictureSource&) = delete;

    // The length of the data or of the file when it was opened.
    std::uint64_t size() const { return m_size; }

    // Copies up to `count` bytes from `offset` on into `out` and returns how many: fewer at the
    // end of the data, and none once the stop is requested or a read fails (see failure()). A
    // large request is read in pieces with a look at the stop before each, so that a decoder
    // asking for a gigabyte strip is left within one piece.
    std::size_t read(std::uint64_t offset, void* out, std::size_t count);

    // The same for a library that cannot take a failed read inside the size it was told (libheif
    // stops the process on one): all `count` bytes are given, zeros wherever a stop, a failed
    // read or a file cut short since it was opened left them unread. failure() then says so,
    // and whatever the library makes of the zeros is thrown away. False, with nothing copied,
    // when the bytes reach past size().
    bool readOrZeros(std::uint64_t offset, void* out, std::size_t count);

    // Why a read gave less than the data held when it was opened: "Decoding stopped", the file
    // cut short under the reader, or the error of the file system; empty while nothing went
    // wrong. Once set it stays: what was decoded after it is not the picture.
    const std::string& failure() const { return m_failure; }

    const std::stop_token& stop() const { return m_stop; }

private:
    std::span<const std::uint8_t> m_data;
    FileDescriptor m_file;
    bool m_isFile = false;
    std::uint64_t m_size = 0;
    std::stop_token m_stop;
    std::string m_failure;
};
