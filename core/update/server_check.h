// The launcher's own check of an https server before each request of a libcurl transfer: after
// the TLS handshake and before a byte of the request is sent (libcurl's pre-request callback),
// the platform checks the certificate the connection got against the URL's host name. A
// refusal aborts the transfer, which then fails like any other (CURLE_ABORTED_BY_CALLBACK);
// plain http requests, redirects included, pass unchecked.
#pragma once
#include <curl/curl.h>

#include <string>

#include "core/http/certificate_check.h"

namespace core {

struct UpdateContext;

class IServerCertificateCheck {
public:
    virtual ~IServerCertificateCheck() = default;
    // tls: the connection's TLS session as libcurl hands it out (CURLINFO_TLS_SSL_PTR);
    // host: the host name of the URL being requested, which the certificate must name.
    virtual CertificateCheck Check(const curl_tlssessioninfo& tls, const std::wstring& host) = 0;
};

// The pre-request callback's state for one transfer; it must outlive curl_easy_perform.
struct ServerCheckedTransfer {
    UpdateContext& ctx;
    CURL* curl;
    const char* function;  // the transfer's function name in the log
    bool refused = false;  // set when a check refused a server
};

// Sets the pre-request callback on transfer.curl when transfer.ctx has a server check; without
// one the TLS library's own verification stands (the native build's libcurl verifies with
// OpenSSL; Schannel under Wine verifies nothing, so the Windows launcher always has one).
void CheckServerBeforeEachRequest(ServerCheckedTransfer& transfer);

// libcurl's CURLOPT_PREREQFUNCTION: CURL_PREREQFUNC_OK, or CURL_PREREQFUNC_ABORT after the
// refusal was logged.
int OnPreRequest(void* transfer, char* primaryIp, char* localIp, int primaryPort, int localPort);

// The scheme (lower case) and host name of a URL; false when it cannot be read. An IPv6
// literal comes without its brackets.
bool UrlSchemeAndHost(const char* url, std::string& scheme, std::string& host);

}  // namespace core
