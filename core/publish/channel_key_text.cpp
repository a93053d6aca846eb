#include "core/publish/channel_key_text.h"

#include <sodium.h>

#include <sstream>

namespace core {

namespace {
// Marks the secret, so a public key file (also 64 hex digits) is never taken for one: signing
// with a seed anyone can read would sign for anyone.
const std::string kSecretPrefix = "channel-secret-key=";
}

std::string SecretKeyText(const ChannelSecretSeed& seed)
{
    return "# Secret key of a channel's configuration signature (Ed25519 seed).\n"
           "# Keep it private: whoever holds it can make launchers of the channel install anything.\n" +
           kSecretPrefix + BytesToHex(seed.data(), seed.size()) + "\n";
}

std::string PublicKeyText(const ChannelPublicKey& key) { return BytesToHex(key.data(), key.size()) + "\n"; }

bool ParseSecretKeyText(const std::string& text, ChannelSecretSeed& seed, std::string& error)
{
    std::istringstream lines(text);
    std::string line;
    int keys = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (++keys > 1) {
            error = "holds more than one key";
            return false;
        }
        if (line.compare(0, kSecretPrefix.size(), kSecretPrefix) != 0 ||
            !HexToBytes(line.substr(kSecretPrefix.size()), seed.data(), seed.size())) {
            error = "is not a secret key (a line " + kSecretPrefix + "<64 hex digits>; a .pub file is public)";
            return false;
        }
    }
    if (keys == 0) error = "holds no key";
    return keys == 1;
}

bool NewChannelSecretSeed(ChannelSecretSeed& seed)
{
    if (sodium_init() < 0) return false;
    randombytes_buf(seed.data(), seed.size());
    return true;
}

}  // namespace core
