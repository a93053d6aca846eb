// The launcher's own check of a TLS server's certificate, the same for every https transfer:
// the chain built to a root of the system's store and verified with the SSL policy for the
// URL's host name. Windows' Schannel checks certificates itself, Wine's accepts any, so the
// decision must not be left to the TLS layer.
//
// Revocation: checked against what the system already holds (CRLs and OCSP answers in its
// cache), never fetched. A revoked certificate the system knows of is refused; one whose
// status is unknown is accepted. Fetching would let a player's start wait on the revocation
// servers, and an attacker on the network path, the one this check is for, can block those
// fetches anyway, so a fetch that may fail cannot be what refuses a connection.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <curl/curl.h>

#include <string>

#include "core/http/certificate_check.h"
#include "core/update/server_check.h"

// cert with the certificates its store holds (those the server sent) as intermediates.
core::CertificateCheck VerifyServerCertificate(PCCERT_CONTEXT cert, const std::wstring& host);

// The server certificate of libcurl's Schannel session, verified as above.
core::CertificateCheck VerifySchannelSession(const curl_tlssessioninfo& tls, const std::wstring& host);

// A TLS handshake of its own with host:port, whose certificate is verified as above; nothing
// is sent over it. For transfers that cannot hand out their own connection's certificate
// before their request goes out (WinInet's).
core::CertificateCheck CheckTlsServer(const std::wstring& host, unsigned short port, long connectTimeoutSeconds);

// The check of the update pipeline's libcurl transfers.
class CSchannelServerCheck : public core::IServerCertificateCheck {
public:
    core::CertificateCheck Check(const curl_tlssessioninfo& tls, const std::wstring& host) override
    {
        return VerifySchannelSession(tls, host);
    }
};
