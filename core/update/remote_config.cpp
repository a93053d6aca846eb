#include "core/update/remote_config.h"

#include <cstdio>
#include <cstring>

#include "core/update/config_signature.h"
#include "core/update/curl_handle.h"
#include "core/update/server_check.h"

namespace core {

namespace {
const char kFunction[] = "CGameRemoteConfig::InitRemoteConfig";
// A configuration document is a few hundred bytes; a server that sends more than this is
// refused (the transfer fails with a write error) rather than followed until memory runs out.
constexpr std::size_t kMaxDocumentChars = 1024 * 1024;

bool IsSha256Hex(const std::wstring& text)
{
    if (text.size() != 64) return false;
    for (wchar_t c : text)
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'))) return false;
    return true;
}

// A launcher built with channel keys takes only a document signed by one of them that names
// its package's digest: the digest is what ties the signed document to the package it lets
// the launcher unpack. Anything else is refused like a document that never arrived, with the
// reason logged and reported.
bool AcceptSignedDocument(UpdateContext& ctx, const ConfigResponse& response, RemoteConfigMap& parsed)
{
    const SignatureCheck check = CheckConfigSignature(response.bytes, ctx.channelKeys);
    std::wstring refusal;
    if (check.verdict != SignatureVerdict::Valid) {
        refusal = DescribeSignatureVerdict(check.verdict);
    } else {
        // The values come from the verified bytes decoded in one piece: decoded chunk by chunk,
        // as received, a character split between two chunks (where the sender cuts them) would
        // be read otherwise than it was signed.
        const std::size_t zero = response.bytes.find('\0');
        ParseRemoteConfig(ctx.host.FromAnsi(response.bytes.substr(0, zero)), parsed);
        const std::wstring* digest = FindConfigValue(parsed, L"ClientPackageSha256");
        if (!digest || !IsSha256Hex(*digest)) refusal = L"signed configuration names no ClientPackageSha256 of 64 hex digits";
    }
    if (!refusal.empty()) {
        parsed.clear();
        ctx.Error(kFunction, __LINE__, L"configuration refused: " + refusal);
        ctx.host.ReportMessage(L"configuration refused: " + refusal);
        return false;
    }
    ctx.Info(kFunction, __LINE__,
             L"configuration signature verified with key " + std::to_wstring(check.keyIndex + 1) + L" of " +
                 std::to_wstring(ctx.channelKeys.size()));
    return true;
}
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to)
{
    if (from.empty()) return text;
    for (std::size_t pos = text.find(from); pos != std::wstring::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
    return text;
}

void ParseRemoteConfig(const std::wstring& text, RemoteConfigMap& into)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = text.find(L'\n', start);
        std::wstring line = text.substr(start, lf == std::wstring::npos ? std::wstring::npos : lf - start);
        // A document written with CR LF line ends: the CR is not part of the value (a package
        // URL ending in CR would fail every download).
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        const std::size_t eq = line.find(L'=');
        if (eq == std::wstring::npos)
            into.emplace(std::wstring(), line);
        else
            into.emplace(line.substr(0, eq), line.substr(eq + 1));
        if (lf == std::wstring::npos) break;
        start = lf + 1;
    }
}

std::size_t OnConfigData(char* data, std::size_t size, std::size_t count, void* target)
{
    auto* response = static_cast<ConfigResponse*>(target);
    if (!response || !response->host) return 0;
    const std::size_t bytes = size * count;
    if (response->text.size() + bytes > kMaxDocumentChars) return 0;
    const void* zero = std::memchr(data, 0, bytes);
    const std::size_t upToZero = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - data) : bytes;
    response->text += response->host->FromAnsi(std::string(data, upToZero));
    response->bytes.append(data, bytes);
    return bytes;
}

int FetchRemoteConfig(UpdateContext& ctx, const std::wstring& configUrl)
{
    const std::wstring url = ReplaceAll(configUrl, L"{ditch_name}", ctx.paths.ditchCode);
    ctx.Info(kFunction, __LINE__, url);

    CurlHandle curl(ctx.newTransfer());
    if (!curl) {
        ctx.Error(kFunction, __LINE__, L"curl is NULL!");
        return kConfigNoHandle;
    }
    ConfigResponse response;
    response.host = &ctx.host;
    const std::string ansiUrl = ctx.host.ToAnsi(url);
    curl_easy_setopt(curl.get(), CURLOPT_URL, ansiUrl.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &OnConfigData);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &response);
    // A server that accepts and never answers must not hold the update thread for ever: the
    // request then fails like any other (102).
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, ctx.limits.connectTimeoutSeconds);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, ctx.limits.configTotalSeconds);
    ServerCheckedTransfer checked{ctx, curl.get(), kFunction};
    CheckServerBeforeEachRequest(checked);

    const CURLcode res = curl_easy_perform(curl.get());
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (res != CURLE_OK || status != 200) {
        wchar_t text[128];
        std::swprintf(text, sizeof text / sizeof text[0], L"res:%d, httpStatusCode:%d", static_cast<int>(res),
                      static_cast<int>(status));
        ctx.Error(kFunction, __LINE__, text);
        return kConfigRequestFailed;
    }
    // With channel keys nothing of the document is read before its signature is checked.
    RemoteConfigMap parsed;
    if (ctx.channelKeys.empty())
        ParseRemoteConfig(response.text, parsed);
    else if (!AcceptSignedDocument(ctx, response, parsed))
        return kConfigRequestFailed;
    ctx.state.remoteConfig.insert(parsed.begin(), parsed.end());
    return kConfigFetched;
}

std::wstring GetEntryUrl(const RemoteConfigMap& config)
{
    const std::wstring* value = FindConfigValue(config, L"EntryUrl");
    return value ? *value : std::wstring();
}

std::wstring GetCustomParameters(const RemoteConfigMap& config)
{
    const std::wstring* value = FindConfigValue(config, L"CustomParameters");
    return value ? *value : std::wstring();
}

}  // namespace core
