#include "search/hasextension.h"

bool hasExtension(const QString& fileName, const QString& ext)
{
    // The extension runs from the last "." to the end, unless a "/" follows that dot: then the dot
    // belongs to a folder name and the file has no extension. QString works in characters, so a
    // byte of a multi-byte character is never taken for either delimiter.
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || fileName.indexOf(QLatin1Char('/'), dot + 1) >= 0) {
        return ext.isEmpty();
    }
    // Both sides are lower-cased by the same rules and then compared character for character,
    // which is not quite the same as a case-folded comparison.
    return fileName.mid(dot).toLower() == ext.toLower();
}
