#include "core/http/certificate_check.h"

#include <cwchar>

namespace core {

namespace {
// The chain policy's errors (winerror.h), by value: this file includes no Windows header.
constexpr std::uint32_t kCertExpired = 0x800B0101;              // CERT_E_EXPIRED
constexpr std::uint32_t kCertValidityNesting = 0x800B0102;      // CERT_E_VALIDITYPERIODNESTING
constexpr std::uint32_t kCertUntrustedRoot = 0x800B0109;        // CERT_E_UNTRUSTEDROOT
constexpr std::uint32_t kCertChaining = 0x800B010A;             // CERT_E_CHAINING
constexpr std::uint32_t kCertUntrustedTestRoot = 0x800B010D;    // CERT_E_UNTRUSTEDTESTROOT
constexpr std::uint32_t kCertNameMismatch = 0x800B010F;         // CERT_E_CN_NO_MATCH
constexpr std::uint32_t kCertWrongUsage = 0x800B0110;           // CERT_E_WRONG_USAGE
constexpr std::uint32_t kCertPurpose = 0x800B0106;              // CERT_E_PURPOSE
constexpr std::uint32_t kCryptRevoked = 0x80092010;             // CRYPT_E_REVOKED

// The chain's error bits (wincrypt.h), by value.
constexpr std::uint32_t kTrustNotTimeValid = 0x00000001;      // CERT_TRUST_IS_NOT_TIME_VALID
constexpr std::uint32_t kTrustNotTimeNested = 0x00000002;     // CERT_TRUST_IS_NOT_TIME_NESTED (obsolete)
constexpr std::uint32_t kTrustRevoked = 0x00000004;           // CERT_TRUST_IS_REVOKED
constexpr std::uint32_t kTrustNotValidForUsage = 0x00000010;  // CERT_TRUST_IS_NOT_VALID_FOR_USAGE
constexpr std::uint32_t kTrustUntrustedRoot = 0x00000020;     // CERT_TRUST_IS_UNTRUSTED_ROOT
constexpr std::uint32_t kTrustRevocationUnknown = 0x00000040; // CERT_TRUST_REVOCATION_STATUS_UNKNOWN
constexpr std::uint32_t kTrustPartialChain = 0x00010000;      // CERT_TRUST_IS_PARTIAL_CHAIN
constexpr std::uint32_t kTrustOfflineRevocation = 0x01000000; // CERT_TRUST_IS_OFFLINE_REVOCATION

const wchar_t* Reason(CertificateVerdict verdict)
{
    switch (verdict) {
    case CertificateVerdict::Trusted: return L"trusted";
    case CertificateVerdict::NoConnection: return L"no TLS connection to check";
    case CertificateVerdict::NoCertificate: return L"the connection presented no certificate";
    case CertificateVerdict::UntrustedRoot: return L"not issued by a trusted root";
    case CertificateVerdict::Expired: return L"expired or not yet valid";
    case CertificateVerdict::NameMismatch: return L"issued for another host name";
    case CertificateVerdict::Revoked: return L"revoked";
    case CertificateVerdict::WrongUsage: return L"not a certificate for a TLS server";
    case CertificateVerdict::Invalid: break;
    }
    return L"invalid certificate chain";
}
}  // namespace

CertificateCheck ClassifyChainTrustStatus(std::uint32_t errorStatus)
{
    const std::uint32_t errors = errorStatus & ~(kTrustRevocationUnknown | kTrustOfflineRevocation | kTrustNotTimeNested);
    CertificateVerdict verdict = CertificateVerdict::Invalid;
    if (errors == 0)
        verdict = CertificateVerdict::Trusted;
    else if (errors & kTrustRevoked)
        verdict = CertificateVerdict::Revoked;
    else if (errors & (kTrustUntrustedRoot | kTrustPartialChain))
        verdict = CertificateVerdict::UntrustedRoot;
    else if (errors & kTrustNotTimeValid)
        verdict = CertificateVerdict::Expired;
    else if (errors & kTrustNotValidForUsage)
        verdict = CertificateVerdict::WrongUsage;
    return CertificateCheck{verdict, errorStatus};
}

CertificateCheck ClassifyChainPolicyError(std::uint32_t policyError)
{
    CertificateVerdict verdict = CertificateVerdict::Invalid;
    switch (policyError) {
    case 0: verdict = CertificateVerdict::Trusted; break;
    case kCertExpired:
    case kCertValidityNesting: verdict = CertificateVerdict::Expired; break;
    case kCertUntrustedRoot:
    case kCertChaining:
    case kCertUntrustedTestRoot: verdict = CertificateVerdict::UntrustedRoot; break;
    case kCertNameMismatch: verdict = CertificateVerdict::NameMismatch; break;
    case kCertWrongUsage:
    case kCertPurpose: verdict = CertificateVerdict::WrongUsage; break;
    case kCryptRevoked: verdict = CertificateVerdict::Revoked; break;
    default: break;
    }
    return CertificateCheck{verdict, policyError};
}

std::wstring DescribeCertificateRefusal(const std::wstring& host, const CertificateCheck& check)
{
    std::wstring text = L"server certificate refused for " + host + L": " + Reason(check.verdict);
    if (check.code != 0) {
        wchar_t code[24];
        std::swprintf(code, sizeof code / sizeof code[0], L" (0x%08X)", static_cast<unsigned>(check.code));
        text += code;
    }
    return text;
}

}  // namespace core
