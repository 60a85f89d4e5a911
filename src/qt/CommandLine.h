#pragma once
// The program's command line: --server HOST[:PORT], --help, --version.

#include "wire/ServerAddress.h"

#include <QStringList>

#include <optional>

namespace stonecall {

struct CommandLine {
    std::optional<ServerAddress> server; // the lobby to log in to, when given
    std::optional<int> exitStatus;       // set: the run ends at once with it (help, errors)
};

// Reads the arguments (the program's name first). Help and the version go to standard
// output, a wrong command line to standard error with exit status 2.
CommandLine readCommandLine(const QStringList& arguments);

// Whether the arguments ask only for help or the version, which need no window system.
bool asksForHelpOrVersion(const QStringList& arguments);

} // namespace stonecall
