#include "studio/command_args.h"

namespace studio {

std::optional<std::string> CommandArgs::Option(const std::string& name) const
{
    const auto it = options.find(name);
    if (it == options.end()) return std::nullopt;
    return it->second;
}

std::string CommandArgs::OptionOr(const std::string& name, const std::string& fallback) const
{
    return Option(name).value_or(fallback);
}

bool ParseCommandArgs(const std::vector<std::string>& words, const std::set<std::string>& known, CommandArgs& args,
                      std::string& error)
{
    args = CommandArgs{};
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 3 || word.compare(0, 2, "--") != 0) {
            args.positional.push_back(word);
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        if (!known.count(name)) {
            error = "unknown option --" + name;
            return false;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else if (i + 1 < words.size()) {
            value = words[++i];
        } else {
            error = "--" + name + " needs a value";
            return false;
        }
        if (!args.options.emplace(name, value).second) {
            error = "--" + name + " is given twice";
            return false;
        }
    }
    return true;
}

}  // namespace studio
