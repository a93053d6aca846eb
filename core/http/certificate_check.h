// The launcher's own verdict on a server's TLS certificate, apart from the platform calls that
// reach it: the verdicts, how the platform's chain-policy errors map to them and the text a
// refusal is logged with. Portable: no Windows headers.
#pragma once
#include <cstdint>
#include <string>

namespace core {

enum class CertificateVerdict {
    Trusted,
    NoConnection,    // no TLS connection could be made to check
    NoCertificate,   // the connection gave none to check
    UntrustedRoot,   // the chain ends at a root the system does not trust (or no chain was built)
    Expired,         // a certificate of the chain is outside its validity period
    NameMismatch,    // not issued for the URL's host name
    Revoked,
    WrongUsage,      // not a certificate for a TLS server
    Invalid,         // any other fault of the chain (a bad signature, a broken chain, ...)
};

struct CertificateCheck {
    CertificateVerdict verdict = CertificateVerdict::Invalid;
    // The platform's error behind the verdict, 0 when there is none.
    std::uint32_t code = 0;

    bool IsTrusted() const { return verdict == CertificateVerdict::Trusted; }
};

// The verdict of a built chain's error status (CERT_CHAIN_CONTEXT::TrustStatus.dwErrorStatus),
// the status kept as the code: Trusted when nothing but an unknown revocation status is wrong
// (revocation is taken from the system's cache, which may know nothing).
CertificateCheck ClassifyChainTrustStatus(std::uint32_t errorStatus);

// The verdict of the SSL chain policy's error (CERT_CHAIN_POLICY_STATUS::dwError), kept with it.
CertificateCheck ClassifyChainPolicyError(std::uint32_t policyError);

// "server certificate refused for <host>: <reason>[ (0x<code>)]": the log line of a refused
// connection, the same for every transfer.
std::wstring DescribeCertificateRefusal(const std::wstring& host, const CertificateCheck& check);

}  // namespace core
