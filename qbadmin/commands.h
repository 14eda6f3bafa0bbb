#pragma once
// The tool's commands, registered on the command line by family. Each
// command's callback runs it against inv's site; a failure raises QbError.
#include <CLI/CLI.hpp>

#include "qbadmin/site.h"

namespace qb::admin {

void AddAdCommands(CLI::App& app, Invocation& inv);        // list show delete purge password
void AddTransferCommands(CLI::App& app, Invocation& inv);  // export import backup
void AddHealthCommands(CLI::App& app, Invocation& inv);    // check stats
void AddLimitCommands(CLI::App& app, Invocation& inv);     // limits
void AddNewSiteCommand(CLI::App& app, Invocation& inv);    // new-site

}  // namespace qb::admin
