// What a launcher built with channel keys asks of a configuration document beyond its
// signature: the values that bind the document to its package, to a moment, and to the
// documents accepted before it. A launcher without keys reads none of them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "core/update/pipeline_state.h"

namespace core {

// The package's SHA-256 (64 hex digits) and its length in bytes: the package the document
// lets a launcher unpack, and the most it lets a launcher write.
extern const wchar_t kPackageSha256Key[];   // "ClientPackageSha256"
extern const wchar_t kPackageSizeKey[];     // "ClientPackageSize"
// A number that grows with every document a studio publishes for the channel; a launcher
// refuses one below the highest it has accepted, so an older document cannot be replayed.
extern const wchar_t kConfigSerialKey[];    // "ClientConfigSerial"
// Optional: the Unix time (seconds, UTC) after which the document is refused.
extern const wchar_t kConfigExpiresKey[];   // "ClientConfigExpires"

// The largest serial, expiry or size a document may state (the figures stay signed 64-bit).
constexpr std::uint64_t kMaxSignedNumber = INT64_MAX;

struct SignedConfigValues {
    std::uint64_t serial = 0;
    std::int64_t packageSize = 0;
    std::optional<std::int64_t> expires;
};

// Reads the values of a verified document and checks them against the launcher's clock (Unix
// seconds) and the highest serial it accepted before (none: a first start). "" when the
// document may be used, else why not, for the log and the report.
std::wstring SignedConfigProblem(const RemoteConfigMap& config, std::int64_t now,
                                 const std::optional<std::uint64_t>& acceptedSerial, SignedConfigValues& values);

// A value of decimal digits only, at most max; false for anything else (a sign, a blank, "").
bool ParseDecimal(const std::wstring& text, std::uint64_t max, std::uint64_t& value);

// Whether a URL starts with "https://" (any letter case).
bool IsHttpsUrl(const std::wstring& url);

}  // namespace core
