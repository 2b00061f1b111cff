#pragma once

#include "app/messages.h"

#include <QString>

#include <exception>
#include <utility>

class QWidget;

// Runs one event handler's body. An error that escapes it is shown in the error box and the rest
// of the handler is skipped; the program goes on. Qt must never unwind an exception through its
// event loop, so every handler entry point of the window goes through here.
template <typename Body> void runGuarded(QWidget* parent, Body&& body) noexcept
{
    try {
        std::forward<Body>(body)();
    } catch (const std::exception& error) {
        Messages::showError(parent, QString::fromUtf8(error.what()));
    } catch (...) {
        Messages::showError(parent, QStringLiteral("原因不明のエラー"));
    }
}
