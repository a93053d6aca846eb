#include "core/update/signed_config.h"

#include <cwctype>

namespace core {

const wchar_t kPackageSha256Key[] = L"ClientPackageSha256";
const wchar_t kPackageSizeKey[] = L"ClientPackageSize";
const wchar_t kConfigSerialKey[] = L"ClientConfigSerial";
const wchar_t kConfigExpiresKey[] = L"ClientConfigExpires";

namespace {

bool IsSha256Hex(const std::wstring& text)
{
    if (text.size() != 64) return false;
    for (wchar_t c : text)
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'))) return false;
    return true;
}

// The number under key, or the reason it cannot be read.
std::wstring ReadNumber(const RemoteConfigMap& config, const wchar_t* key, std::uint64_t& value)
{
    const std::wstring* text = FindConfigValue(config, key);
    if (!text) return std::wstring(L"signed configuration names no ") + key;
    if (!ParseDecimal(*text, kMaxSignedNumber, value))
        return std::wstring(L"signed configuration's ") + key + L" is not a decimal number: " + *text;
    return L"";
}

}  // namespace

bool ParseDecimal(const std::wstring& text, std::uint64_t max, std::uint64_t& value)
{
    if (text.empty()) return false;
    std::uint64_t number = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        const unsigned digit = static_cast<unsigned>(c - L'0');
        if (number > (max - digit) / 10) return false;
        number = number * 10 + digit;
    }
    value = number;
    return true;
}

bool IsHttpsUrl(const std::wstring& url)
{
    static const std::wstring kScheme = L"https://";
    if (url.size() < kScheme.size()) return false;
    for (std::size_t i = 0; i < kScheme.size(); ++i)
        if (std::towlower(url[i]) != kScheme[i]) return false;
    return true;
}

std::wstring SignedConfigProblem(const RemoteConfigMap& config, std::int64_t now,
                                 const std::optional<std::uint64_t>& acceptedSerial, SignedConfigValues& values)
{
    const std::wstring* digest = FindConfigValue(config, kPackageSha256Key);
    if (!digest || !IsSha256Hex(*digest)) return L"signed configuration names no ClientPackageSha256 of 64 hex digits";
    std::uint64_t number = 0;
    if (std::wstring problem = ReadNumber(config, kPackageSizeKey, number); !problem.empty()) return problem;
    values.packageSize = static_cast<std::int64_t>(number);
    if (std::wstring problem = ReadNumber(config, kConfigSerialKey, values.serial); !problem.empty()) return problem;
    if (acceptedSerial && values.serial < *acceptedSerial)
        return L"signed configuration has serial " + std::to_wstring(values.serial) + L", older than serial " +
               std::to_wstring(*acceptedSerial) + L" accepted before";
    if (FindConfigValue(config, kConfigExpiresKey)) {
        if (std::wstring problem = ReadNumber(config, kConfigExpiresKey, number); !problem.empty()) return problem;
        values.expires = static_cast<std::int64_t>(number);
        if (now > *values.expires)
            return L"signed configuration expired at " + std::to_wstring(*values.expires) + L" (Unix time); the clock says " +
                   std::to_wstring(now);
    }
    // The entry page hands the login text that becomes the game's command line: over plain
    // HTTP anyone on the way could write it.
    const std::wstring* entry = FindConfigValue(config, L"EntryUrl");
    if (entry && !IsHttpsUrl(*entry)) return L"signed configuration's EntryUrl is not https: " + *entry;
    return L"";
}

}  // namespace core
