// The arguments of one subcommand of scripts/channel: positional words and "--name value" or
// "--name=value" options, each named option at most once.
#pragma once
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace studio {

struct CommandArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // without the leading "--"

    std::optional<std::string> Option(const std::string& name) const;
    std::string OptionOr(const std::string& name, const std::string& fallback) const;
};

// Options not in known are refused; so is an option without its value. False with error set.
bool ParseCommandArgs(const std::vector<std::string>& words, const std::set<std::string>& known, CommandArgs& args,
                      std::string& error);

}  // namespace studio
