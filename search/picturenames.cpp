#include "search/picturenames.h"

#include "search/hasextension.h"

#include <array>

namespace {

const std::array<QString, 3> DesignExtensions = {QStringLiteral(".jpg"), QStringLiteral(".jpeg"),
                                                 QStringLiteral(".bmp")};

const std::array<QString, 8> FurtherExtensions = {QStringLiteral(".png"),  QStringLiteral(".gif"),
                                                  QStringLiteral(".webp"), QStringLiteral(".tif"),
                                                  QStringLiteral(".tiff"), QStringLiteral(".heic"),
                                                  QStringLiteral(".heif"), QStringLiteral(".avif")};

bool hasOneOf(const QString& name, const auto& extensions)
{
    for (const QString& extension : extensions) {
        if (hasExtension(name, extension))
            return true;
    }
    return false;
}

} // namespace

bool isPictureName(const QString& name, PictureFormats formats)
{
    return hasOneOf(name, DesignExtensions) ||
           (formats == PictureFormats::All && hasOneOf(name, FurtherExtensions));
}
