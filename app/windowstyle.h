#pragma once

#include <QColor>
#include <QFont>

// The look shared by the window and its parts: pure blue behind everything, white text, red
// captions on the search screen, and one font face in several heights.
inline const QColor WindowBlue{0, 0, 255};
inline const QColor CaptionRed{255, 0, 0};

// The window's font face at the given character height in pixels. On Linux the face is drawn
// by IPA P Gothic (the program substitutes it at start-up).
inline QFont windowFont(int pixelHeight, bool bold = false)
{
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}
