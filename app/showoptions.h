#pragma once

#include "app/settings.h"
#include "show/showoptions.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

// One key of [SHOW]. Adding a key to the show is one entry in the table showSettings() returns.
struct ShowSetting
{
    // The key in the file, in capitals; the command line's twin is "--" and the key in small
    // letters.
    std::string_view key;
    // The values allowed, as the messages and the help name them: "FRAMES or SMOOTH".
    std::string_view allowed;
    // The default, as the file would spell it.
    std::string_view fallback;
    // Sets the option from a value (any case); false when the value is not allowed, in which
    // case the options are left as they were.
    bool (*apply)(ShowOptions& options, std::string_view value);
    // What a bad value leaves, in words, where "<fallback> is used" would not say it.
    std::string_view instead = {};
    // A bad value on the command line is reported and the default used, instead of ending the
    // program: for a key whose mistake must not keep the show from starting.
    bool lenient = false;
};

// Every key of [SHOW], in the order the help lists them.
std::span<const ShowSetting> showSettings();

// The key whose name (any case) is `key`, or nullptr.
const ShowSetting* findShowSetting(std::string_view key);

// The options from the [SHOW] values of the file at iniPath, then from `commandLine` (values
// already checked by the command line, which win). A bad value in the file keeps that key's
// default and adds one line to `complaints`, naming the file, the key and the value; so does a
// lenient key's bad value on the command line, which replaces the file's value by the default. Keys
// the program does not know are ignored, so that a file written for a later version still works.
ShowOptions readShowOptions(const std::string& iniPath, const std::vector<IniValue>& commandLine,
                            std::vector<std::string>& complaints);

// The texts the [SHOW] settings show on the terminal, in one place. Control characters of the
// quoted values are shown as "?".
namespace ShowTexts {
// A bad value in the settings file.
std::string badFileValue(const std::string& iniPath, const ShowSetting& setting,
                         std::string_view value);
// A bad value on the command line; for a lenient key, with what is used instead.
std::string badOptionValue(const ShowSetting& setting, std::string_view value);
// "--motion" without "=" and a value.
std::string optionWithoutValue(const ShowSetting& setting);
} // namespace ShowTexts
