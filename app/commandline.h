#pragma once

#include "app/settings.h"

#include <string>
#include <vector>

// The program's command line: "lumivane [OPTION] [--] [FOLDER]". Besides --help and --version,
// each key of the settings file's [SHOW] section has a twin, "--formats=all" for FORMATS=ALL.
//
// It is read before Qt sees anything, so that --help and --version work without a display and a
// folder is never mistaken for one of Qt's own options ("-display", "-platform", "-reverse"...):
// Qt is given none of the arguments and is configured through its environment variables instead
// (DISPLAY, QT_QPA_PLATFORM). Options may come anywhere before "--"; everything after "--" is a
// plain argument, so a folder whose name starts with "-" can still be given. "-" alone is a plain
// argument too, as usual. The first plain argument is the folder; later ones are ignored.
struct CommandLine
{
    enum class Action
    {
        Run,
        ShowHelp,
        ShowVersion,
        // An argument the program does not know; error holds the message.
        Fail,
    };

    Action action = Action::Run;
    // The first plain argument, bytes as given, or empty when there is none.
    std::string folder;
    // One line, without the program's name in front, for an action of Fail.
    std::string error;
    // The [SHOW] twins given, in order, each with a value the key allows; the key is spelled
    // as in the file.
    std::vector<IniValue> show;
};

// Reads the arguments after the program's name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The text --help prints.
std::string usageText();

// The text --version prints.
std::string versionText();
