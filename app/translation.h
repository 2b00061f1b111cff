#pragma once

#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

class QTranslator;

// The program's texts are written in Japanese, its own language. An English translation, made
// with Qt Linguist (app/translations/lumivane_en.ts) and compiled into the program, replaces them
// wherever the user's language is anything else.
enum class TextLanguage
{
    Japanese,
    English,
};

// The language the user asks for, found the way gettext finds it. The locale of messages is the
// first non-empty one of LC_ALL, LC_MESSAGES and LANG. LANGUAGE, a list of languages separated by
// ":", comes first, but is ignored when that locale is C or POSIX (or none is set), as gettext
// ignores it. Of a list the first entry counts. "ja" (with any territory, codeset or modifier),
// C, POSIX and nothing at all give Japanese; every other language gives English. variable returns
// a variable's value, empty when it is not set.
TextLanguage textLanguageOf(const std::function<std::string(const char* name)>& variable);

// The same from the process's environment.
TextLanguage userTextLanguage();

// The translation in use. main makes one before it prints anything, so that Console::tr works
// from then on, and installs it in the application once that exists, for the window's texts
// (the widgets' tr()). There is one at a time.
class Translation
{
public:
    explicit Translation(TextLanguage language);
    ~Translation();
    Translation(const Translation&) = delete;
    Translation& operator=(const Translation&) = delete;

    // Hands the translation to the QCoreApplication, which must exist; it is taken back when this
    // object ends.
    void install();

private:
    std::unique_ptr<QTranslator> m_translator;
};

// Texts printed on the terminal: start-up errors, command-line and settings messages. They are
// written in English, the terminal's usual language, and are printed in every locale as they
// stand unless the translation in use has a text for them. They may be printed before the
// application exists, so they are looked up in the translation directly. Every such text goes
// through Console::tr, which Qt's lupdate collects into the context "Console".
class Console
{
public:
    static QString tr(const char* sourceText);

    // The translated text as UTF-8 bytes with "%1", "%2"... replaced by arguments, which stay the
    // bytes they are (a path or a command-line argument need not be valid UTF-8):
    // Console::fill(Console::tr("cannot open %1: %2"), {path, std::strerror(errno)}).
    static std::string fill(const QString& text, std::initializer_list<std::string> arguments);
};
