#pragma once

#include "imaging/rgbimage.h"

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

// Errors of the bitmap reader. Their what() texts are the exact messages the user sees.
class EQdDIBError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The file is not a bitmap file at all (bfType is not "BM").
class EQdDIBInvalidDIBFile : public EQdDIBError
{
public:
    using EQdDIBError::EQdDIBError;
};

// The file is a bitmap file whose headers or data the reader refuses.
class EQdDIBInvalidDIB : public EQdDIBError
{
public:
    using EQdDIBError::EQdDIBError;
};

// The data ended before a read was complete: "ストリームからの読み込みエラー".
class EStreamReadError : public std::runtime_error
{
public:
    EStreamReadError();
};

// The file could not be opened: "ファイル "<path>". <strerror> は開けません".
class EFileOpenError : public std::runtime_error
{
public:
    EFileOpenError(const std::string& path, int errorNumber);
};

// The pixel buffer could not be allocated ("GetMemory: ..." texts).
class EOutOfResources : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The texts of EOutOfResources. The first is raised for a pixel buffer that cannot exist (a
// length of zero or less, or a picture larger than the reader hands over), the second when
// memory for a buffer of a sound size cannot be obtained.
inline constexpr char kCannotMakeFileMapping[] = "GetMemory: Cannot Make File Mapping Object";
inline constexpr char kCannotMakeViewOfFileMap[] = "GetMemory: Cannot Make View of File Map";

struct QdDibPicture; // the held picture record, see imaging/qddibpicture.h

// The information headers the reader takes: the 40-byte and the 12-byte core header, or also the
// version 4 and 5 headers (108 and 124 bytes) that GIMP and ImageMagick write, with their masks
// and a version 5 header's embedded ICC profile.
enum class BitmapHeaders
{
    Design,
    WithLaterVersions,
};

// The bitmap file reader. A new reader holds a 1 x 1 black picture. A load that fails throws
// and leaves the held picture unchanged; a load that succeeds replaces it.
class QdDib
{
public:
    QdDib();
    ~QdDib();
    QdDib(const QdDib&) = delete;
    QdDib& operator=(const QdDib&) = delete;

    // Opens the file (raw bytes path, as found on disk), reads it, and closes it on every path.
    // Once `stop` is requested the reading ends with PictureWorkStopped.
    void loadFromFile(const std::string& path, std::stop_token stop = {},
                      BitmapHeaders headers = BitmapHeaders::Design);
    // Reads one picture from the start of the given bytes (the stream's current position).
    void loadFromBytes(std::span<const std::uint8_t> data,
                       BitmapHeaders headers = BitmapHeaders::Design);

    // The ICC profile the held picture's version 5 header embeds; empty when it has none.
    const std::vector<std::uint8_t>& iccProfile() const;

    int width() const;
    int height() const;

    // The hand-over: the held picture as 8-bit RGB, upright (top row first). Decodes run-length
    // data and looks up palettes here; throws EQdDIBInvalidDIB when the bit count and the
    // compression do not fit together, and PictureWorkStopped once `stop` is requested.
    RgbImage toRgbImage(std::stop_token stop = {}) const;

private:
    std::unique_ptr<QdDibPicture> m_picture;
};
