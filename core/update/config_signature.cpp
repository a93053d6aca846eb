#include "core/update/config_signature.h"

#include <sodium.h>

#include <cstring>

namespace core {

const char kConfigSignatureKey[] = "ClientConfigSignature";

namespace {

const std::string kLinePrefix = std::string(kConfigSignatureKey) + "=";

// Offsets of the lines that begin with the signature key and "=".
std::vector<std::size_t> SignatureLineStarts(const std::string& document)
{
    std::vector<std::size_t> starts;
    for (std::size_t start = 0; start <= document.size();) {
        if (document.compare(start, kLinePrefix.size(), kLinePrefix) == 0) starts.push_back(start);
        const std::size_t lf = document.find('\n', start);
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
    return starts;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool SodiumReady() { return sodium_init() >= 0; }

}  // namespace

std::string BytesToHex(const unsigned char* bytes, std::size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 15];
    }
    return hex;
}

bool HexToBytes(const std::string& hex, unsigned char* bytes, std::size_t size)
{
    if (hex.size() != size * 2) return false;
    for (std::size_t i = 0; i < size; ++i) {
        const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
    return true;
}

std::string ConfigSigningContext(const std::string& gameCode, const std::string& ditchCode)
{
    return "game-launcher-channel-config/2\nGameCode=" + gameCode + "\nDitchCode=" + ditchCode + "\n";
}

SignatureCheck CheckConfigSignature(const std::string& document, const ChannelKeys& keys, const std::string& context)
{
    SignatureCheck check;
    const std::vector<std::size_t> starts = SignatureLineStarts(document);
    if (starts.empty()) return check;
    if (starts.size() > 1) {
        check.verdict = SignatureVerdict::Duplicate;
        return check;
    }
    const std::size_t start = starts.front();
    std::string value = document.substr(start + kLinePrefix.size());
    // One line end may close the document; anything after it would be outside the signature.
    const std::size_t lf = value.find('\n');
    if (lf != std::string::npos) {
        if (lf + 1 != value.size()) {
            check.verdict = SignatureVerdict::NotLast;
            return check;
        }
        value.pop_back();
        if (!value.empty() && value.back() == '\r') value.pop_back();
    }
    ConfigSignature signature;
    if (!HexToBytes(value, signature.data(), signature.size())) {
        check.verdict = SignatureVerdict::Malformed;
        return check;
    }
    check.coveredBytes = start;
    if (keys.empty()) {
        check.verdict = SignatureVerdict::NoKeys;
        return check;
    }
    const std::string message = context + document.substr(0, start);
    const auto* signedBytes = reinterpret_cast<const unsigned char*>(message.data());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (VerifyBytes(keys[i], signedBytes, message.size(), signature)) {
            check.verdict = SignatureVerdict::Valid;
            check.keyIndex = static_cast<int>(i);
            return check;
        }
    }
    check.verdict = SignatureVerdict::NoMatchingKey;
    return check;
}

std::wstring DescribeSignatureVerdict(SignatureVerdict verdict)
{
    switch (verdict) {
    case SignatureVerdict::Valid: return L"configuration signature verified";
    case SignatureVerdict::Missing: return L"configuration is not signed";
    case SignatureVerdict::NotLast: return L"configuration has bytes after its signature line";
    case SignatureVerdict::Duplicate: return L"configuration has more than one signature line";
    case SignatureVerdict::Malformed: return L"configuration signature is not 128 hex digits";
    case SignatureVerdict::NoKeys: return L"launcher has no channel key";
    case SignatureVerdict::NoMatchingKey: return L"configuration signature matches no key of this launcher";
    }
    return L"configuration signature unchecked";
}

bool ChannelPublicKeyFromSeed(const ChannelSecretSeed& seed, ChannelPublicKey& key)
{
    if (!SodiumReady()) return false;
    unsigned char secret[crypto_sign_SECRETKEYBYTES];
    const bool made = crypto_sign_seed_keypair(key.data(), secret, seed.data()) == 0;
    sodium_memzero(secret, sizeof secret);
    return made;
}

bool SignBytes(const ChannelSecretSeed& seed, const unsigned char* data, std::size_t size, ConfigSignature& signature)
{
    if (!SodiumReady()) return false;
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secret[crypto_sign_SECRETKEYBYTES];
    const bool made = crypto_sign_seed_keypair(publicKey, secret, seed.data()) == 0 &&
                      crypto_sign_detached(signature.data(), nullptr, data, size, secret) == 0;
    sodium_memzero(secret, sizeof secret);
    return made;
}

bool VerifyBytes(const ChannelPublicKey& key, const unsigned char* data, std::size_t size,
                 const ConfigSignature& signature)
{
    return SodiumReady() && crypto_sign_verify_detached(signature.data(), data, size, key.data()) == 0;
}

bool SignConfigDocument(std::string& document, const ChannelSecretSeed& seed, const std::string& context)
{
    if (!SignatureLineStarts(document).empty()) return false;
    std::string signedDocument = document;
    if (!signedDocument.empty() && signedDocument.back() != '\n') signedDocument += '\n';
    const std::string message = context + signedDocument;
    ConfigSignature signature;
    if (!SignBytes(seed, reinterpret_cast<const unsigned char*>(message.data()), message.size(), signature))
        return false;
    document = signedDocument + kLinePrefix + BytesToHex(signature.data(), signature.size()) + "\n";
    return true;
}

}  // namespace core
