#pragma once

// Setup and driving shared by the tests and benchmarks that run the real window (header only: its
// users link the window library).

#include "app/mainwindow.h"
#include "app/messages.h"
#include "screen/surfaceformat.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

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

// One tick of the slide timer, driven from outside: a change whose picture is still being
// prepared is ticked on until the worker has made it, as the running timer would. False when the
// change is still pending after `timeoutMs`.
inline bool tickThroughChange(MainWindow& window, int timeoutMs = 10000)
{
    window.controller().slideTick();
    return QTest::qWaitFor(
        [&] {
            if (window.controller().changePending())
                window.controller().slideTick();
            return !window.controller().changePending();
        },
        timeoutMs);
}

} // namespace WindowSetup
