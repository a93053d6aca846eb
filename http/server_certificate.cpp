#define SECURITY_WIN32
#include "http/server_certificate.h"

#include <schannel.h>
#include <wininet.h>  // the SSL policy's fdwChecks flags
#include <security.h>

#include <memory>
#include <string>

#include "core/update/curl_handle.h"

namespace {

struct ChainFree {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { ::CertFreeCertificateChain(chain); }
};
struct CertificateFree {
    void operator()(PCCERT_CONTEXT cert) const { ::CertFreeCertificateContext(cert); }
};

core::CertificateCheck Verdict(core::CertificateVerdict verdict, DWORD code)
{
    return core::CertificateCheck{verdict, static_cast<std::uint32_t>(code)};
}

}  // namespace

core::CertificateCheck VerifyServerCertificate(PCCERT_CONTEXT cert, const std::wstring& host)
{
    if (!cert) return Verdict(core::CertificateVerdict::NoCertificate, 0);
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    // The server's own certificates (cert's store) complete the chain; the roots are the system's.
    PCCERT_CHAIN_CONTEXT rawChain = nullptr;
    if (!::CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para,
                                   CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY,
                                   nullptr, &rawChain))
        return Verdict(core::CertificateVerdict::UntrustedRoot, ::GetLastError());
    std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree> chain(rawChain);
    // The chain itself must be sound, whatever the policy makes of it (Wine's SSL policy passes a
    // chain that ends at an unknown issuer). Revocation is decided here too (see the header): a
    // revocation the system knows of refuses the server, an unknown status does not, and the
    // policy below is told to overlook the latter (Wine's policy reads only its own flag for it).
    const core::CertificateCheck built = core::ClassifyChainTrustStatus(chain->TrustStatus.dwErrorStatus);
    if (!built.IsTrusted()) return built;

    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = SECURITY_FLAG_IGNORE_REVOCATION;
    ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status))
        return Verdict(core::CertificateVerdict::Invalid, ::GetLastError());
    return core::ClassifyChainPolicyError(status.dwError);
}

core::CertificateCheck VerifySchannelSession(const curl_tlssessioninfo& tls, const std::wstring& host)
{
    if (tls.backend != CURLSSLBACKEND_SCHANNEL || !tls.internals)
        return Verdict(core::CertificateVerdict::NoCertificate, 0);
    // libcurl's Schannel session is its security context handle.
    auto* context = static_cast<CtxtHandle*>(tls.internals);
    PCCERT_CONTEXT rawCert = nullptr;
    const SECURITY_STATUS got = ::QueryContextAttributesW(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &rawCert);
    std::unique_ptr<const CERT_CONTEXT, CertificateFree> cert(rawCert);
    if (got != SEC_E_OK || !cert) return Verdict(core::CertificateVerdict::NoCertificate, static_cast<DWORD>(got));
    return VerifyServerCertificate(cert.get(), host);
}

namespace {
// The handshake's only request is never sent: its pre-request callback checks the certificate
// and ends the transfer.
struct Probe {
    CURL* curl;
    const std::wstring& host;
    core::CertificateCheck check{core::CertificateVerdict::NoConnection, 0};
};

int CheckAndStop(void* target, char*, char*, int, int)
{
    auto* probe = static_cast<Probe*>(target);
    const curl_tlssessioninfo* tls = nullptr;
    if (curl_easy_getinfo(probe->curl, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK && tls)
        probe->check = VerifySchannelSession(*tls, probe->host);
    else
        probe->check = Verdict(core::CertificateVerdict::NoCertificate, 0);
    return CURL_PREREQFUNC_ABORT;
}
}  // namespace

core::CertificateCheck CheckTlsServer(const std::wstring& host, unsigned short port, long connectTimeoutSeconds)
{
    core::CurlHandle curl(curl_easy_init());
    if (!curl) return Verdict(core::CertificateVerdict::NoConnection, 0);
    // Host names are ASCII; an IPv6 literal goes in brackets.
    std::string name(host.begin(), host.end());
    if (name.find(':') != std::string::npos) name = "[" + name + "]";
    const std::string url = "https://" + name + ":" + std::to_string(port) + "/";
    Probe probe{curl.get(), host};
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 2 * connectTimeoutSeconds);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_PREREQFUNCTION, &CheckAndStop);
    curl_easy_setopt(curl.get(), CURLOPT_PREREQDATA, &probe);
    const CURLcode res = curl_easy_perform(curl.get());
    // Aborted by the callback once it has checked; anything else failed before it ran.
    if (res != CURLE_ABORTED_BY_CALLBACK) return Verdict(core::CertificateVerdict::NoConnection, static_cast<DWORD>(res));
    return probe.check;
}
