#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

// The settings file "lumivane.ini" (where it lies is AppLocations' business). Section "DEF" holds
// the zero-based index of the monitor to cover (key "MONITOR"); section "SHOW" holds the show's
// own options (see ShowOptions). It is read once at start-up and never written.

// Converts the text of an INI value to an integer. Leading and trailing blanks (spaces and tabs)
// are skipped; one "+" or "-" may come first; after the sign, a "$", "0x" or "0X" prefix makes the
// digits hexadecimal, otherwise they are decimal. Anything else gives 0: an empty text, a sign or
// prefix without digits, a blank between sign and digits, any other character, or a value outside
// the range of a 32-bit signed integer (the sign applies to hexadecimal values as well, so
// "$FFFFFFFF" is out of range, not -1).
int parseIniInteger(const QString& text);

// One "key=value" line of a section, as UTF-8.
struct IniValue
{
    std::string key;
    std::string value;
};

// The values of one section of the INI file at iniPath, in the order of the file (a section
// that appears twice gives the values of both). A missing or unreadable file gives none.
// Section names compare case-insensitively; names and values are trimmed; lines starting with
// ";" are comments; one pair of matching quotes around the value is removed, and the value is
// cut to its first 2047 characters. The path is the file system's bytes. The file is treated
// as untrusted: only a regular file is read, at most its first 4 MiB, and overlong lines are
// cut.
std::vector<IniValue> readIniSection(const std::string& iniPath, std::string_view section);

// Reads key "MONITOR" of section "DEF" from the INI file at iniPath and converts it with
// parseIniInteger. A missing or unreadable file, a missing section or key, or a value that is not a
// number gives 0. The key compares case-insensitively; its first occurrence counts.
int readMonitorSetting(const std::string& iniPath);

// Replaces a monitor index outside 0 .. monitorCount - 1 by 0, the first monitor in the
// platform's order.
int chooseMonitorIndex(int value, int monitorCount);
