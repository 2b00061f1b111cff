#pragma once

// Setup shared by the tests and benchmarks that run the real window (header only: its users link
// the window library).

#include "app/messages.h"
#include "render/surfaceformat.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>

#include <cstdio>

namespace WindowSetup {

// What the program's main does before its window exists: the window's font family keeps its
// design name with IPA P Gothic drawing it, and OpenGL surfaces get the slideshow's format for
// the screen's colour depth.
inline void prepareProcess()
{
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
    setSlideshowSurfaceFormat(QGuiApplication::primaryScreen()->depth());
}

// The window's messages go to standard error instead of a message box, which would stop a
// measurement until someone closes it.
inline void printMessages()
{
    Messages::setPresenterForTesting([](Messages::Kind, const QString& text) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    });
}

} // namespace WindowSetup
