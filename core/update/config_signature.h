// The channel's signature over its configuration document (Ed25519, through libsodium).
//
// A launcher built with the studio's public keys takes a configuration document only when it
// carries a valid signature by one of them: anyone on the network path could otherwise hand
// an elevated launcher another package to unpack and start. The signature travels in the
// document itself, as one more key=value line that a launcher without keys stores and ignores
// like any key it does not read.
//
// The signed form, byte for byte:
//   <covered bytes>ClientConfigSignature=<128 hex digits><nothing, LF or CR LF>
// - The signature line is the document's last line: nothing but one line end may follow it,
//   so no served byte escapes the signature.
// - It starts a line: the covered bytes are empty or end with LF.
// - The covered bytes are every byte before the signature line, exactly as served (CR LF line
//   ends, blanks, any byte at all); they hold no other signature line.
// - The signature is Ed25519 over the signing context followed by the covered bytes, as 64
//   bytes in hex (either case).
//
// The signing context names the game and the channel the document was made for. It is not
// served; each launcher puts in its own profile's codes. So a document a studio signed for one
// channel (a QA channel, another game) verifies on no other, whatever lines it holds or lacks.
#pragma once
#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace core {

constexpr std::size_t kChannelKeyBytes = 32;
constexpr std::size_t kChannelSeedBytes = 32;
constexpr std::size_t kConfigSignatureBytes = 64;

using ChannelPublicKey = std::array<unsigned char, kChannelKeyBytes>;
// The secret from which the key pair is derived (what PREFIX.key holds).
using ChannelSecretSeed = std::array<unsigned char, kChannelSeedBytes>;
// The keys a launcher was built with: none (the channel is not signed), or the current and
// the next one while a studio rotates.
using ChannelKeys = std::vector<ChannelPublicKey>;
using ConfigSignature = std::array<unsigned char, kConfigSignatureBytes>;

// "ClientConfigSignature"
extern const char kConfigSignatureKey[];

enum class SignatureVerdict {
    Valid,
    Missing,          // no signature line
    NotLast,          // bytes follow the signature line
    Duplicate,        // a signature line inside the covered bytes
    Malformed,        // the value is not 128 hex digits
    NoKeys,           // the launcher has no key to check with
    NoMatchingKey,    // the signature is valid for none of the keys
};

struct SignatureCheck {
    SignatureVerdict verdict = SignatureVerdict::Missing;
    std::size_t coveredBytes = 0;  // the first bytes of the document that the signature covers
    int keyIndex = -1;             // which key verified it (0: the first of the build's keys)
};

// "game-launcher-channel-config/2\nGameCode=<game>\nDitchCode=<channel>\n": the bytes a
// signature covers before the document's. The codes hold no line end (letters, digits, "-"
// and "_"), so no two pairs of codes give the same context.
std::string ConfigSigningContext(const std::string& gameCode, const std::string& ditchCode);

// Checks a document as served against the launcher's keys, for the launcher's context.
SignatureCheck CheckConfigSignature(const std::string& document, const ChannelKeys& keys, const std::string& context);

// The reason for the log and the report: "configuration is not signed", ...
std::wstring DescribeSignatureVerdict(SignatureVerdict verdict);

// The public key of a seed; false when libsodium cannot start.
bool ChannelPublicKeyFromSeed(const ChannelSecretSeed& seed, ChannelPublicKey& key);

// Ed25519 over bytes: the two operations everything above rests on.
bool SignBytes(const ChannelSecretSeed& seed, const unsigned char* data, std::size_t size, ConfigSignature& signature);
bool VerifyBytes(const ChannelPublicKey& key, const unsigned char* data, std::size_t size,
                 const ConfigSignature& signature);

// Appends the signature line to a document (after a LF when the document does not end with
// one), signed for the context. False, with the document unchanged, when it already holds a
// signature line or libsodium cannot start.
bool SignConfigDocument(std::string& document, const ChannelSecretSeed& seed, const std::string& context);

// Lower-case hex of bytes, and bytes of exactly 2 × size hex digits (either case).
std::string BytesToHex(const unsigned char* bytes, std::size_t size);
bool HexToBytes(const std::string& hex, unsigned char* bytes, std::size_t size);

}  // namespace core
