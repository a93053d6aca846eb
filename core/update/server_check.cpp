#include "core/update/server_check.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "core/update/update_context.h"

namespace core {

namespace {
struct CurlUrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextFree {
    void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlTextFree>;

bool UrlPart(CURLU* url, CURLUPart part, std::string& into)
{
    char* raw = nullptr;
    if (curl_url_get(url, part, &raw, 0) != CURLUE_OK || !raw) return false;
    CurlText text(raw);
    into = text.get();
    return true;
}
}  // namespace

bool UrlSchemeAndHost(const char* url, std::string& scheme, std::string& host)
{
    std::unique_ptr<CURLU, CurlUrlCleanup> parsed(curl_url());
    if (!parsed || !url || curl_url_set(parsed.get(), CURLUPART_URL, url, 0) != CURLUE_OK) return false;
    if (!UrlPart(parsed.get(), CURLUPART_SCHEME, scheme) || !UrlPart(parsed.get(), CURLUPART_HOST, host)) return false;
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return !host.empty();
}

void CheckServerBeforeEachRequest(ServerCheckedTransfer& transfer)
{
    if (!transfer.ctx.serverCheck) return;
    curl_easy_setopt(transfer.curl, CURLOPT_PREREQFUNCTION, &OnPreRequest);
    curl_easy_setopt(transfer.curl, CURLOPT_PREREQDATA, &transfer);
}

int OnPreRequest(void* target, char*, char*, int, int)
{
    auto* transfer = static_cast<ServerCheckedTransfer*>(target);
    if (!transfer || !transfer->ctx.serverCheck) return CURL_PREREQFUNC_ABORT;
    UpdateContext& ctx = transfer->ctx;
    // The URL of this very request: after a redirect, the one redirected to.
    char* url = nullptr;
    curl_easy_getinfo(transfer->curl, CURLINFO_EFFECTIVE_URL, &url);
    std::string scheme, host;
    const bool readable = UrlSchemeAndHost(url, scheme, host);
    if (readable && scheme != "https") return CURL_PREREQFUNC_OK;

    const std::wstring hostName = ctx.host.FromAnsi(host);
    CertificateCheck check{CertificateVerdict::NoCertificate, 0};
    const curl_tlssessioninfo* tls = nullptr;
    if (readable && curl_easy_getinfo(transfer->curl, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK && tls &&
        tls->internals)
        check = ctx.serverCheck->Check(*tls, hostName);
    if (check.IsTrusted()) return CURL_PREREQFUNC_OK;
    transfer->refused = true;
    ctx.Error(transfer->function, __LINE__, DescribeCertificateRefusal(hostName, check));
    return CURL_PREREQFUNC_ABORT;
}

}  // namespace core
