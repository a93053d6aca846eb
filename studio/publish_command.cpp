// "scripts/channel publish": a game tree becomes the folder a static server serves for a
// channel. Prints progress while a large tree is packed and a summary at the end.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>

#include "core/publish/channel_config.h"
#include "core/publish/channel_key_text.h"
#include "core/text/utf8_text.h"
#include "core/update/signed_config.h"
#include "core/publish/publish_channel.h"
#include "core/publish/publish_files.h"
#include "studio/channel_commands.h"
#include "studio/command_args.h"
#include "studio/key_files.h"

namespace studio {

namespace {

const std::set<std::string> kOptions = {"game",    "version",      "base-url",  "out",
                                        "code",    "channel",      "mini-version", "entry-url",
                                        "custom-parameters", "sign-key", "expires-in"};

// The longest --expires-in: a signed document valid for more than ten years is one that
// should not expire at all.
constexpr long long kMaxExpiryDays = 3650;

// --expires-in DAYS as the Unix time it ends at; false with error set for anything but a
// whole number of days from 1 to kMaxExpiryDays.
bool ExpiryTime(const std::string& days, std::int64_t now, std::int64_t& expires, std::string& error)
{
    if (days.empty() || days.size() > 4 || days.find_first_not_of("0123456789") != std::string::npos ||
        std::stoll(days) < 1 || std::stoll(days) > kMaxExpiryDays) {
        error = "--expires-in \"" + days + "\" is not a whole number of days from 1 to " + std::to_string(kMaxExpiryDays);
        return false;
    }
    expires = now + std::stoll(days) * 24 * 60 * 60;
    return true;
}

// A signed channel's entry page must be https: the page hands the launcher the login text
// that becomes the game's command line, and over plain HTTP anyone on the way could write it.
bool IsHttpsUrl(const std::string& url) { return core::IsHttpsUrl(core::Utf8ToWide(url)); }

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
    if (!sign && args.Option("expires-in")) {
        PrintError("publish: --expires-in needs --sign-key: only a signed document can carry an expiry");
        return kExitUsage;
    }
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::optional<std::int64_t> expires;
    if (args.Option("expires-in")) {
        std::int64_t at = 0;
        if (!ExpiryTime(*args.Option("expires-in"), now, at, error)) {
            PrintError("publish: " + error);
            return kExitUsage;
        }
        expires = at;
    }
    if (sign && request.entryUrl && !IsHttpsUrl(*request.entryUrl)) {
        PrintError("publish: --entry-url \"" + *request.entryUrl +
                   "\" is not https://: a signed channel's entry page must be (the page hands the launcher the login "
                   "text that becomes the game's command line); nothing was published");
        return kExitFailed;
    }
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
        // The serial follows the document published before into OUT; the signature binds the
        // document to this game and channel.
        std::string previous;
        core::ReadFileBytes(request.outDir / core::Utf8Path(core::ConfigDocumentPath(request.channel)), previous);
        const std::uint64_t serial = core::NextConfigSerial(previous, now);
        const std::string context = core::ConfigSigningContext(request.gameCode, request.channel);
        request.amendDocument = [&seed, serial, expires, context](std::string& document, std::string& why) {
            document += core::SignedDocumentLines(serial, expires);
            if (core::SignConfigDocument(document, seed, context)) return true;
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
