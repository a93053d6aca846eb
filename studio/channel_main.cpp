// scripts/channel: the studio's side of a channel. "publish" makes the folder a static web
// server serves for a channel, "serve" serves such a folder with nginx on loopback.
#include <cstdio>
#include <cstring>
#include <iostream>

#include "core/text/utf8_text.h"
#include "studio/channel_commands.h"

namespace studio {

namespace {

const ChannelCommand kCommands[] = {
    {"publish",
     "publish --game DIR --version V --base-url URL --out OUT [--code CODE] [--channel CHANNEL]\n"
     "          [--mini-version V] [--entry-url URL] [--custom-parameters TEXT] [--sign-key PREFIX.key]",
     &RunPublish},
    {"keygen", "keygen --out PREFIX", &RunKeygen},
    {"serve", "serve OUT --port N [--limit-rate R]", &RunServe},
};

int PrintUsage(std::FILE* to)
{
    std::fprintf(to, "usage: scripts/channel COMMAND ...\n");
    for (const ChannelCommand& command : kCommands) std::fprintf(to, "  %s\n", command.usage);
    return to == stdout ? 0 : kExitUsage;
}

}  // namespace

void PrintError(const std::string& message) { std::cerr << "channel: " << message << std::endl; }

int Main(const CommandWords& words)
{
    if (words.empty()) return PrintUsage(stderr);
    if (words[0] == "help" || words[0] == "--help" || words[0] == "-h") return PrintUsage(stdout);
    for (const ChannelCommand& command : kCommands)
        if (words[0] == command.name) return command.run(CommandWords(words.begin() + 1, words.end()));
    PrintError("unknown command \"" + words[0] + "\"");
    return PrintUsage(stderr);
}

}  // namespace studio

#ifdef _WIN32
// Wide arguments, so folders with any name reach the commands intact (as UTF-8).
int wmain(int argc, wchar_t** argv)
{
    studio::CommandWords words;
    for (int i = 1; i < argc; ++i) words.push_back(core::WideToUtf8(argv[i]));
    return studio::Main(words);
}
#else
int main(int argc, char** argv) { return studio::Main(studio::CommandWords(argv + 1, argv + argc)); }
#endif
