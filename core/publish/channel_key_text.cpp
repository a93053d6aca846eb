#include "core/publish/channel_key_text.h"

#include <sodium.h>

#include <string_view>

namespace core {

namespace {
// Marks the secret, so a public key file (also 64 hex digits) is never taken for one: signing
// with a seed anyone can read would sign for anyone.
const std::string kSecretPrefix = "channel-secret-key=";
}

std::string SecretKeyText(const ChannelSecretSeed& seed)
{
    static const std::string_view kHeader =
        "# Secret key of a channel's configuration signature (Ed25519 seed).\n"
        "# Keep it private: whoever holds it can make launchers of the channel install anything.\n";
    // Built in one buffer sized once, so no grown or temporary string leaves the digits behind.
    std::string digits = BytesToHex(seed.data(), seed.size());
    const SecretWiper<std::string> wipeDigits(digits);
    std::string text;
    text.reserve(kHeader.size() + kSecretPrefix.size() + digits.size() + 1);
    text.append(kHeader).append(kSecretPrefix).append(digits).append("\n");
    return text;
}

std::string PublicKeyText(const ChannelPublicKey& key) { return BytesToHex(key.data(), key.size()) + "\n"; }

bool ParseSecretKeyText(const std::string& text, ChannelSecretSeed& seed, std::string& error)
{
    // Lines are read in place: the digits of the secret are copied once, for the decoder, and
    // wiped after it.
    int keys = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        if (++keys > 1) {
            error = "holds more than one key";
            return false;
        }
        const bool marked = line.substr(0, kSecretPrefix.size()) == kSecretPrefix;
        std::string digits(marked ? line.substr(kSecretPrefix.size()) : std::string_view());
        const SecretWiper<std::string> wipeDigits(digits);
        if (!marked || !HexToBytes(digits, seed.data(), seed.size())) {
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

void WipeSecret(ChannelSecretSeed& seed) { sodium_memzero(seed.data(), seed.size()); }

void WipeSecret(std::string& text)
{
    if (!text.empty()) sodium_memzero(&text[0], text.size());
    text.clear();
}

}  // namespace core
