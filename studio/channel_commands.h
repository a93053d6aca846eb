// The subcommands of scripts/channel. Each is one function in a file of its own, listed once
// in the table of channel_main.cpp; it gets the words after its name and returns the exit code.
#pragma once
#include <string>
#include <vector>

namespace studio {

using CommandWords = std::vector<std::string>;

struct ChannelCommand {
    const char* name;
    const char* usage;  // the synopsis printed by "scripts/channel help"
    int (*run)(const CommandWords& words);
};

int RunKeygen(const CommandWords& words);
int RunPublish(const CommandWords& words);
int RunServe(const CommandWords& words);

// Messages of every command go to stderr with this prefix; exit codes: 0 done, 1 refused or
// failed, 2 wrong usage.
void PrintError(const std::string& message);
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

}  // namespace studio
