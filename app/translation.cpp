#include "app/translation.h"

#include <QCoreApplication>
#include <QTranslator>

#include <cstdlib>

namespace {

// The translation Console::tr looks its texts up in, while one exists.
const QTranslator* g_current = nullptr;

// The language part of a locale name such as "en_GB.UTF-8@euro" or of a LANGUAGE entry.
std::string languagePart(const std::string& name)
{
    return name.substr(0, name.find_first_of("_.@"));
}

bool isPlainLocale(const std::string& language)
{
    return language.empty() || language == "C" || language == "POSIX";
}

} // namespace

TextLanguage textLanguageOf(const std::function<std::string(const char* name)>& variable)
{
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = variable(name);
        if (!locale.empty())
            break;
    }
    std::string language = languagePart(locale);
    if (!isPlainLocale(language)) {
        const std::string list = variable("LANGUAGE");
        const std::string first = languagePart(list.substr(0, list.find(':')));
        if (!first.empty())
            language = first;
    }
    return isPlainLocale(language) || language == "ja" ? TextLanguage::Japanese
                                                       : TextLanguage::English;
}

TextLanguage userTextLanguage()
{
    return textLanguageOf([](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value != nullptr ? value : "");
    });
}

Translation::Translation(TextLanguage language)
{
    if (language == TextLanguage::English) {
        m_translator = std::make_unique<QTranslator>();
        // Built into the program's resources, so the build tree and the package both have it.
        if (m_translator->load(QStringLiteral(":/i18n/lumivane_en.qm")))
            g_current = m_translator.get();
        else
            m_translator.reset();
    }
}

Translation::~Translation()
{
    if (m_translator && QCoreApplication::instance() != nullptr)
        QCoreApplication::removeTranslator(m_translator.get());
    if (g_current == m_translator.get())
        g_current = nullptr;
}

void Translation::install()
{
    if (m_translator)
        QCoreApplication::installTranslator(m_translator.get());
}

QString Console::tr(const char* sourceText)
{
    if (g_current != nullptr) {
        QString translated = g_current->translate("Console", sourceText);
        if (!translated.isEmpty())
            return translated;
    }
    return QString::fromUtf8(sourceText);
}

std::string Console::fill(const QString& text, std::initializer_list<std::string> arguments)
{
    const std::string pattern = text.toStdString();
    std::string result;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const std::size_t number = i + 1 < pattern.size() ? std::size_t(pattern[i + 1] - '0') : 0;
        if (pattern[i] == '%' && number >= 1 && number <= arguments.size()) {
            result += *(arguments.begin() + (number - 1));
            ++i;
        } else {
            result += pattern[i];
        }
    }
    return result;
}
