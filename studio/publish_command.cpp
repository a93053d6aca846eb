// "scripts/channel publish": a game tree becomes the folder a static server serves for a
// channel. Prints progress while a large tree is packed and a summary at the end.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "core/publish/channel_key_text.h"
#include "core/publish/publish_channel.h"
#include "core/publish/publish_files.h"
#include "studio/channel_commands.h"
#include "studio/command_args.h"
#include "studio/key_files.h"

namespace studio {

namespace {

const std::set<std::string> kOptions = {"game",    "version",      "base-url",  "out",
                                        "code",    "channel",      "mini-version", "entry-url",
                                        "custom-parameters", "sign-key"};

// A secret key inside the game folder would be packed into the package every player
// downloads; inside OUT it would be served, or uploaded to a CDN, with the channel.
std::string SigningKeyPlaceProblem(const std::string& keyFile, const CommandArgs& args)
{
    const std::filesystem::path key = core::Utf8Path(keyFile);
    if (core::PathInside(key, core::Utf8Path(*args.Option("game"))))
        return "--sign-key " + keyFile + " lies inside the game folder --game, whose every file is packed into the "
               "package players download";
    if (core::PathInside(key, core::Utf8Path(*args.Option("out"))))
        return "--sign-key " + keyFile + " lies inside the served folder --out, which a web server or CDN hands to "
               "anyone who asks";
    return "";
}

// The seed of --sign-key's file, read before anything is packed so a wrong key costs nothing.
bool ReadSigningSeed(const std::string& keyFile, core::ChannelSecretSeed& seed, std::string& error)
{
    std::string text;
    const core::SecretWiper<std::string> wipeText(text);
    if (!ReadKeyFile(core::Utf8Path(keyFile), text, error)) return false;
    if (core::ParseSecretKeyText(text, seed, error)) return true;
    error = keyFile + " " + error;
    return false;
}

std::string Size(std::uint64_t bytes)
{
    char text[64];
    if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    else
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

// One line a second at most, so a small tree prints none and a large one shows it is moving.
class ProgressLines {
public:
    void operator()(const char* phase, const core::PackProgress& figures)
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < std::chrono::seconds(1)) return;
        m_last = now;
        const int percent =
            figures.bytesTotal ? static_cast<int>(figures.bytesDone * 100 / figures.bytesTotal) : 100;
        std::fprintf(stderr, "%s: %3d%% (%s of %s, %zu of %zu entries)\n", phase, percent,
                     Size(figures.bytesDone).c_str(), Size(figures.bytesTotal).c_str(), figures.entriesDone,
                     figures.entriesTotal);
    }

private:
    std::chrono::steady_clock::time_point m_last = std::chrono::steady_clock::now();
};

void PrintSummary(const core::PublishRequest& request, const core::PublishSummary& summary)
{
    const auto written = [&](const std::string& below) {
        return core::PathUtf8((request.outDir / core::Utf8Path(below)).make_preferred());
    };
    std::cout << "published " << request.gameCode << " " << request.version << " on channel " << request.channel
              << "\n"
              << "  files:         " << summary.files << " in " << summary.folders << " folders, "
              << Size(summary.bytes) << "\n"
              << "  package:       " << Size(summary.packageBytes) << ", SHA-256 " << summary.sha256 << "\n"
              << "  package URL:   " << summary.packageUrl << "\n"
              << "  configuration: " << summary.configUrl << "\n"
              << "  written to:    " << written(summary.packagePath) << "\n"
              << "                 " << written(summary.configPath) << std::endl;
}

}  // namespace

int RunPublish(const CommandWords& words)
{
    CommandArgs args;
    std::string error;
    if (!ParseCommandArgs(words, kOptions, args, error)) {
        PrintError("publish: " + error);
        return kExitUsage;
    }
    if (!args.positional.empty()) {
        PrintError("publish: unexpected \"" + args.positional[0] + "\"");
        return kExitUsage;
    }
    for (const char* required : {"game", "version", "base-url", "out"})
        if (!args.Option(required)) {
            PrintError(std::string("publish: --") + required + " is required");
            return kExitUsage;
        }

    core::PublishRequest request;
    request.gameDir = core::Utf8Path(*args.Option("game"));
    request.outDir = core::Utf8Path(*args.Option("out"));
    request.gameCode = args.OptionOr("code", CHANNEL_DEFAULT_GAME_CODE);
    request.channel = args.OptionOr("channel", CHANNEL_DEFAULT_DITCH_CODE);
    request.version = *args.Option("version");
    request.miniVersion = args.OptionOr("mini-version", "");
    request.baseUrl = *args.Option("base-url");
    request.entryUrl = args.Option("entry-url");
    request.customParameters = args.Option("custom-parameters");
    ProgressLines progress;
    request.progress = std::ref(progress);
    core::ChannelSecretSeed seed{};
    const core::SecretWiper<core::ChannelSecretSeed> wipeSeed(seed);
    core::ChannelPublicKey signingKey{};
    const bool sign = args.Option("sign-key").has_value();
    if (sign) {
        if (const std::string problem = SigningKeyPlaceProblem(*args.Option("sign-key"), args); !problem.empty()) {
            PrintError("publish: " + problem + "; keep the secret key outside both; nothing was published");
            return kExitFailed;
        }
        if (!ReadSigningSeed(*args.Option("sign-key"), seed, error) || !core::ChannelPublicKeyFromSeed(seed, signingKey)) {
            PrintError("publish: --sign-key: " + (error.empty() ? std::string("libsodium cannot start") : error) +
                       "; nothing was published");
            return kExitFailed;
        }
        request.amendDocument = [&seed](std::string& document, std::string& why) {
            if (core::SignConfigDocument(document, seed)) return true;
            why = "the configuration document cannot be signed";
            return false;
        };
    }

    core::PublishSummary summary;
    const bool published = core::PublishChannel(request, summary, error);
    core::WipeSecret(seed);
    if (!published) {
        PrintError("publish: " + error + "; nothing was published");
        return kExitFailed;
    }
    PrintSummary(request, summary);
    if (sign) std::cout << "  signed with:   " << core::PublicKeyText(signingKey) << std::flush;
    return 0;
}

}  // namespace studio
