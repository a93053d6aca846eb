// "scripts/channel keygen --out PREFIX": a new key pair for signing a channel's configuration.
// PREFIX.key is the secret (owner-only), PREFIX.pub the public key in the form the launcher's
// build option LAUNCHER_CHANNEL_PUBLIC_KEYS reads.
#include <filesystem>
#include <iostream>

#include "core/publish/channel_key_text.h"
#include "core/publish/publish_files.h"
#include "studio/channel_commands.h"
#include "studio/command_args.h"
#include "studio/key_files.h"

namespace studio {

int RunKeygen(const CommandWords& words)
{
    CommandArgs args;
    std::string error;
    if (!ParseCommandArgs(words, {"out"}, args, error)) {
        PrintError("keygen: " + error);
        return kExitUsage;
    }
    if (!args.positional.empty() || !args.Option("out") || args.Option("out")->empty()) {
        PrintError("keygen: --out PREFIX is required (and nothing else)");
        return kExitUsage;
    }
    const std::string prefix = *args.Option("out");
    const std::filesystem::path secretPath = core::Utf8Path(prefix + ".key");
    const std::filesystem::path publicPath = core::Utf8Path(prefix + ".pub");
    std::error_code ec;
    for (const auto& path : {secretPath, publicPath})
        if (std::filesystem::exists(path, ec) || ec) {
            PrintError("keygen: " + core::PathUtf8(path) + " exists: a key is never overwritten; nothing was written");
            return kExitFailed;
        }

    core::ChannelSecretSeed seed{};
    core::ChannelPublicKey key{};
    if (!core::NewChannelSecretSeed(seed) || !core::ChannelPublicKeyFromSeed(seed, key)) {
        PrintError("keygen: libsodium cannot start; nothing was written");
        return kExitFailed;
    }
    const bool written = WriteNewKeyFile(secretPath, core::SecretKeyText(seed), true, error) &&
                         WriteNewKeyFile(publicPath, core::PublicKeyText(key), false, error);
    seed.fill(0);
    if (!written) {
        // Half a pair is no use and a stray secret is a risk.
        std::filesystem::remove(secretPath, ec);
        PrintError("keygen: " + error + "; nothing was written");
        return kExitFailed;
    }
    std::cout << "channel signing key written\n"
              << "  secret: " << core::PathUtf8(secretPath) << " (owner-only; keep it private, sign with "
              << "publish --sign-key)\n"
              << "  public: " << core::PathUtf8(publicPath) << " " << core::PublicKeyText(key)
              << "  build:  cmake -DLAUNCHER_CHANNEL_PUBLIC_KEYS=" << core::PathUtf8(publicPath) << " ..." << std::endl;
    return 0;
}

}  // namespace studio
