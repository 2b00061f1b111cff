#pragma once

#include <QString>

// A file name or path as the window shows it. Linux names may hold any character but "/" and NUL,
// line breaks and other control characters included; shown as they are, they would break the
// page box and the path box into lines of their own or vanish. Each control character (U+0000 to
// U+001F, U+007F to U+009F) and each line or paragraph separator (U+2028, U+2029) becomes the
// replacement character U+FFFD. Only what is shown changes; files are opened by their own path.
QString visibleName(QString name);
