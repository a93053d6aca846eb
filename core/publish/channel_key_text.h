// The files of a channel's signing key pair, as `scripts/channel keygen --out PREFIX` writes
// them and as `publish --sign-key` and the launcher's build option read them:
//   PREFIX.key  "# ..." comment lines, then "channel-secret-key=" and the secret seed in 64 hex
//               digits
//   PREFIX.pub  the public key as one line of 64 hex digits (the build option's keys file is
//               one or two such files one after the other)
// Blank lines and lines starting with "#" are skipped when reading.
#pragma once
#include <string>

#include "core/update/config_signature.h"

namespace core {

std::string SecretKeyText(const ChannelSecretSeed& seed);
std::string PublicKeyText(const ChannelPublicKey& key);

// The seed of a PREFIX.key text; false with a message when it holds no key, more than one, or
// one that is not 64 hex digits.
bool ParseSecretKeyText(const std::string& text, ChannelSecretSeed& seed, std::string& error);

// A new secret seed from the system's random source (libsodium); false when that fails.
bool NewChannelSecretSeed(ChannelSecretSeed& seed);

}  // namespace core
