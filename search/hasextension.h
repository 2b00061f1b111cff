#pragma once

#include <QString>

// True when the extension of fileName (from its last "." to the end, provided no "/" follows that
// dot), lower-cased, equals ext lower-cased. "/" is the only path delimiter on Linux.
bool hasExtension(const QString& fileName, const QString& ext);
