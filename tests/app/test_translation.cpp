// Which language the texts are shown in, and the terminal texts' arguments.
#include "app/translation.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

TextLanguage languageWith(const std::map<std::string, std::string>& environment)
{
    return textLanguageOf([&](const char* name) {
        const auto found = environment.find(name);
        return found != environment.end() ? found->second : std::string();
    });
}

} // namespace

TEST(TextLanguage, IsFoundAsGettextFindsIt)
{
    constexpr TextLanguage ja = TextLanguage::Japanese;
    constexpr TextLanguage en = TextLanguage::English;
    const struct
    {
        std::map<std::string, std::string> environment;
        TextLanguage expected;
    } cases[] = {
        {{}, ja},
        {{{"LANG", "C.UTF-8"}}, ja},
        {{{"LANG", "ja_JP.UTF-8"}}, ja},
        {{{"LANG", "en_US.UTF-8"}}, en},
        // LC_ALL before LC_MESSAGES before LANG; an empty value counts as unset.
        {{{"LC_ALL", "de_DE.UTF-8"}, {"LC_MESSAGES", "ja_JP"}, {"LANG", "ja_JP.UTF-8"}}, en},
        {{{"LC_ALL", ""}, {"LC_MESSAGES", "en_GB"}, {"LANG", "ja_JP.UTF-8"}}, en},
        {{{"LC_ALL", "C"}, {"LANG", "en_US.UTF-8"}}, ja},
        {{{"LANG", "POSIX"}}, ja},
        // LANGUAGE comes first, its first entry counts, and a C locale ignores it.
        {{{"LANGUAGE", "ja:en"}, {"LANG", "en_US.UTF-8"}}, ja},
        {{{"LANGUAGE", "fr_FR:ja"}, {"LANG", "ja_JP.UTF-8"}}, en},
        {{{"LANGUAGE", "en"}, {"LANG", "C.UTF-8"}}, ja},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& [name, value] : c.environment)
            shown += name + "=" + value + " ";
        EXPECT_EQ(languageWith(c.environment), c.expected) << shown;
    }
}

TEST(Console, FillsArgumentsInAsBytes)
{
    // Without an English translation loaded, the source text stands.
    EXPECT_EQ(Console::tr("cannot open the frame log %1: %2"),
              QStringLiteral("cannot open the frame log %1: %2"));
    // An argument is not read for markers itself, and keeps bytes that are not UTF-8.
    EXPECT_EQ(Console::fill(QStringLiteral("%2 and %1, 100%"), {"a%2\xff", "b"}),
              "b and a%2\xff, 100%");
}
