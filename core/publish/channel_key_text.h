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

// Overwrites a secret with zeros through libsodium's wipe, which the compiler keeps: a plain
// fill of memory that is not read again may be dropped as a dead store.
void WipeSecret(ChannelSecretSeed& seed);
void WipeSecret(std::string& text);  // every byte of it, then empties it

// Wipes what it guards when it goes out of scope, on every way out of a function.
template <class Secret>
class SecretWiper {
public:
    explicit SecretWiper(Secret& secret) : m_secret(secret) {}
    SecretWiper(const SecretWiper&) = delete;
    SecretWiper& operator=(const SecretWiper&) = delete;
    ~SecretWiper() { WipeSecret(m_secret); }

private:
    Secret& m_secret;
};

}  // namespace core
