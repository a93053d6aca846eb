#include "core/update/remote_config.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include "core/update/config_signature.h"
#include "core/update/curl_handle.h"
#include "core/update/server_check.h"
#include "core/update/signed_config.h"

namespace core {

namespace {
const char kFunction[] = "CGameRemoteConfig::InitRemoteConfig";
// A configuration document is a few hundred bytes; a server that sends more than this is
// refused (the transfer fails with a write error) rather than followed until memory runs out.
// Every byte received counts, the ones after a zero byte (which the text never holds) too.
constexpr std::size_t kMaxDocumentBytes = 1024 * 1024;

// The codes of the profile as the signing context names them (they are ASCII).
std::string AsciiCode(const std::wstring& code)
{
    std::string text;
    for (wchar_t c : code) text += c < 0x80 ? static_cast<char>(c) : '?';
    return text;
}

// A launcher built with channel keys takes only a document signed by one of them for its game
// and channel, that names its package's digest and size, no older than the newest it accepted
// and not expired. Anything else is refused like a document that never arrived, with the
// reason logged and reported.
bool AcceptSignedDocument(UpdateContext& ctx, const ConfigResponse& response, RemoteConfigMap& parsed)
{
    const std::string gameCode = AsciiCode(ctx.paths.gameCode), ditchCode = AsciiCode(ctx.paths.ditchCode);
    const SignatureCheck check =
        CheckConfigSignature(response.bytes, ctx.channelKeys, ConfigSigningContext(gameCode, ditchCode));
    std::wstring refusal;
    SignedConfigValues values;
    std::uint64_t stored = 0;
    const bool hasStored = ctx.host.ReadAcceptedConfigSerial(stored);
    if (check.verdict == SignatureVerdict::NoMatchingKey) {
        refusal = DescribeSignatureVerdict(check.verdict) + L" for game " + ctx.paths.gameCode + L", channel " +
                  ctx.paths.ditchCode;
    } else if (check.verdict != SignatureVerdict::Valid) {
        refusal = DescribeSignatureVerdict(check.verdict);
    } else {
        // The values come from the verified bytes decoded in one piece: decoded chunk by chunk,
        // as received, a character split between two chunks (where the sender cuts them) would
        // be read otherwise than it was signed.
        const std::size_t zero = response.bytes.find('\0');
        ParseRemoteConfig(ctx.host.FromAnsi(response.bytes.substr(0, zero)), parsed);
        refusal = SignedConfigProblem(parsed, static_cast<std::int64_t>(std::time(nullptr)),
                                      hasStored ? std::optional<std::uint64_t>(stored) : std::nullopt, values);
    }
    if (!refusal.empty()) {
        parsed.clear();
        ctx.Error(kFunction, __LINE__, L"configuration refused: " + refusal);
        ctx.host.ReportMessage(L"configuration refused: " + refusal);
        return false;
    }
    ctx.Info(kFunction, __LINE__,
             L"configuration signature verified with key " + std::to_wstring(check.keyIndex + 1) + L" of " +
                 std::to_wstring(ctx.channelKeys.size()) + L", serial " + std::to_wstring(values.serial));
    // Kept before anything of the document is used: an older one is refused from now on. A
    // launcher that cannot keep it still uses this document, which is valid; only the guard
    // against a replay of an older one is weaker until a later start keeps it.
    if ((!hasStored || values.serial > stored) && !ctx.host.WriteAcceptedConfigSerial(values.serial))
        ctx.Error(kFunction, __LINE__, L"the accepted serial " + std::to_wstring(values.serial) + L" cannot be kept");
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
    if (response->bytes.size() + bytes > kMaxDocumentBytes) return 0;
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
