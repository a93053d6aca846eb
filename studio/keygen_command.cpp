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
    // A link at either path, even one to nothing, is someone's: it is neither followed nor
    // removed.
    std::error_code ec;
    for (const auto& path : {secretPath, publicPath}) {
        const auto status = std::filesystem::symlink_status(path, ec);
        if (std::filesystem::exists(status) || (ec && status.type() != std::filesystem::file_type::not_found)) {
            PrintError("keygen: " + core::PathUtf8(path) + " exists: a key is never overwritten; nothing was written");
            return kExitFailed;
        }
    }

    core::ChannelSecretSeed seed{};
    const core::SecretWiper<core::ChannelSecretSeed> wipeSeed(seed);
    core::ChannelPublicKey key{};
    if (!core::NewChannelSecretSeed(seed) || !core::ChannelPublicKeyFromSeed(seed, key)) {
        PrintError("keygen: libsodium cannot start; nothing was written");
        return kExitFailed;
    }
    std::string secretText = core::SecretKeyText(seed);
    const core::SecretWiper<std::string> wipeText(secretText);
    // Both files are created before either is written; on any failure each one created here,
    // and nothing else, is removed again: half a pair is no use and a stray secret is a risk.
    NewKeyFile secretFile, publicFile;
    if (!secretFile.Create(secretPath, true, error) || !publicFile.Create(publicPath, false, error) ||
        !secretFile.Write(secretText, error) || !publicFile.Write(core::PublicKeyText(key), error)) {
        PrintError("keygen: " + error + "; nothing was written");
        return kExitFailed;
    }
    secretFile.Keep();
    publicFile.Keep();
    std::cout << "channel signing key written\n"
              << "  secret: " << core::PathUtf8(secretPath) << " (owner-only; keep it private, sign with "
              << "publish --sign-key)\n"
              << "  public: " << core::PathUtf8(publicPath) << " " << core::PublicKeyText(key)
              << "  build:  cmake -DLAUNCHER_CHANNEL_PUBLIC_KEYS=" << core::PathUtf8(publicPath) << " ..." << std::endl;
    return 0;
}

}  // namespace studio
