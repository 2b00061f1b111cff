#pragma once

#include <QString>

#include <functional>

class QWidget;

// The program's two kinds of modal message: the plain dialog with one OK button for its own
// messages ("Could not CreateContext", "画像ファイルがありません"), and the critical error box
// for an error that escaped an event handler. Both are captioned "Lumivane" and block until the
// user presses OK; timers keep firing meanwhile, since the dialog runs a nested event loop.
namespace Messages {

enum class Kind
{
    Plain,
    Error
};

// The text an escaped error shows: a full stop is appended when the last character's code is
// above that of the full stop itself (so "...エラー" gains one and "...(24Bit)" does not).
QString errorBoxText(const QString& errorText);

// An error text in the user's language. The plain libraries raise their errors in Japanese, the
// program's own language; the English translation knows those texts, including the ones around
// a file name or a reason. Any other text (the bitmap reader's, the audio library's) stays as
// it is.
QString translatedErrorText(const QString& errorText);

void showPlain(QWidget* parent, const QString& text);
void showError(QWidget* parent, const QString& errorText);

// Tests replace the modal dialogs with a recorder; pass an empty function to restore them.
using Presenter = std::function<void(Kind, const QString& text)>;
void setPresenterForTesting(Presenter presenter);

} // namespace Messages
