#include "app/showoptions.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <system_error>
#include <utility>

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// Sets `target` to the choice named `value` (any case).
template <typename T>
bool choose(std::string_view value, std::initializer_list<std::pair<std::string_view, T>> choices,
            T& target)
{
    for (const auto& [name, choice] : choices) {
        if (sameIgnoringCase(value, name)) {
            target = choice;
            return true;
        }
    }
    return false;
}

// A decimal number such as "4.5" or "10": digits with at most one point, no sign, no exponent,
// read the same in every locale.
bool parseDecimal(std::string_view text, double& number)
{
    const bool wellFormed = !text.empty() && text.front() != '.' && text.back() != '.' &&
                            std::count(text.begin(), text.end(), '.') <= 1 &&
                            std::all_of(text.begin(), text.end(),
                                        [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
    if (!wellFormed)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

constexpr std::array<ShowSetting, 8> Settings{{
    {"MOTION", "FRAMES or SMOOTH", "FRAMES",
     [](ShowOptions& options, std::string_view value) {
         return choose(value, {{"FRAMES", SlideMotion::Frames}, {"SMOOTH", SlideMotion::Smooth}},
                       options.motion);
     }},
    {"SECONDS", "a number from 1 to 3600", "4.5",
     [](ShowOptions& options, std::string_view value) {
         double seconds = 0;
         if (!parseDecimal(value, seconds) || seconds < 1 || seconds > 3600)
             return false;
         options.seconds = seconds;
         return true;
     }},
    {"FORMATS", "DESIGN or ALL", "DESIGN",
     [](ShowOptions& options, std::string_view value) {
         return choose(value, {{"DESIGN", PictureFormats::Design}, {"ALL", PictureFormats::All}},
                       options.formats);
     }},
    {"ORDER", "SORTED or SHUFFLE", "SORTED",
     [](ShowOptions& options, std::string_view value) {
         return choose(value, {{"SORTED", ShowOrder::Sorted}, {"SHUFFLE", ShowOrder::Shuffle}},
                       options.order);
     }},
    {"QUALITY", "DESIGN or HIGH", "DESIGN",
     [](ShowOptions& options, std::string_view value) {
         return choose(value, {{"DESIGN", PictureQuality::Design}, {"HIGH", PictureQuality::High}},
                       options.quality);
     }},
    {"WATCH", "OFF or ON", "OFF",
     [](ShowOptions& options, std::string_view value) {
         return choose(value, {{"OFF", false}, {"ON", true}}, options.watch);
     }},
    {"KEEP_AWAKE", "ON or OFF", "ON",
     [](ShowOptions& options, std::string_view value) {
         return choose(value, {{"ON", true}, {"OFF", false}}, options.keepAwake);
     }},
    // A photo frame with a mistyped schedule still shows its pictures, day and night.
    {"AWAKE", "hours such as 07:00-23:00, 22:00-06:00 or 07:00-09:00,17:00-23:00", "",
     [](ShowOptions& options, std::string_view value) {
         const std::optional<AwakeSchedule> schedule = AwakeSchedule::parse(value);
         if (schedule)
             options.awake = *schedule;
         return schedule.has_value();
     },
     "the schedule is off", true},
}};

std::string printable(std::string_view text)
{
    std::string shown(text);
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = '?';
    }
    return shown;
}

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

// The command line's twin of a key, without the dashes: "keep-awake" for KEEP_AWAKE.
std::string optionName(const ShowSetting& setting)
{
    std::string name = lowerCase(setting.key);
    std::replace(name.begin(), name.end(), '_', '-');
    return name;
}

std::string insteadText(const ShowSetting& setting)
{
    return setting.instead.empty() ? std::string(setting.fallback) + " is used"
                                   : std::string(setting.instead);
}

} // namespace

std::span<const ShowSetting> showSettings()
{
    return Settings;
}

const ShowSetting* findShowSetting(std::string_view key)
{
    for (const ShowSetting& setting : Settings) {
        if (sameIgnoringCase(key, setting.key))
            return &setting;
    }
    return nullptr;
}

ShowOptions readShowOptions(const std::string& iniPath, const std::vector<IniValue>& commandLine,
                            std::vector<std::string>& complaints)
{
    ShowOptions options;
    // Only the first occurrence of a key in the file counts, as for [DEF].
    std::vector<const ShowSetting*> seen;
    for (const IniValue& entry : readIniSection(iniPath, "SHOW")) {
        const ShowSetting* setting = findShowSetting(entry.key);
        if (setting == nullptr || std::find(seen.begin(), seen.end(), setting) != seen.end())
            continue;
        seen.push_back(setting);
        if (!setting->apply(options, entry.value))
            complaints.push_back(ShowTexts::badFileValue(iniPath, *setting, entry.value));
    }
    for (const IniValue& entry : commandLine) {
        const ShowSetting* setting = findShowSetting(entry.key);
        if (setting == nullptr || setting->apply(options, entry.value))
            continue;
        // Only a lenient key comes here with a bad value: the parser ended the program for
        // the others.
        setting->apply(options, setting->fallback);
        complaints.push_back(ShowTexts::badOptionValue(*setting, entry.value));
    }
    return options;
}

namespace ShowTexts {

std::string badFileValue(const std::string& iniPath, const ShowSetting& setting,
                         std::string_view value)
{
    return printable(iniPath) + ": [SHOW] " + std::string(setting.key) + "=" + printable(value) +
           " is not " + std::string(setting.allowed) + "; " + insteadText(setting);
}

std::string badOptionValue(const ShowSetting& setting, std::string_view value)
{
    return "invalid value '" + printable(value) + "' for --" + optionName(setting) + " (use " +
           lowerCase(setting.allowed) + "; see 'lumivane --help')" +
           (setting.lenient ? "; " + insteadText(setting) : std::string());
}

std::string optionWithoutValue(const ShowSetting& setting)
{
    const std::string option = "--" + optionName(setting);
    if (setting.fallback.empty())
        return "option '" + option + "' needs a value (see 'lumivane --help')";
    return "option '" + option + "' needs a value, as in " + option + "=" +
           lowerCase(setting.fallback) + " (see 'lumivane --help')";
}

} // namespace ShowTexts
