// The verdicts of the chain policy's errors and the log text of a refused server.
#include <gtest/gtest.h>

#include "core/http/certificate_check.h"

namespace {

using core::CertificateVerdict;

struct PolicyCase {
    std::uint32_t error;
    CertificateVerdict verdict;
};

class PolicyErrors : public ::testing::TestWithParam<PolicyCase> {};

TEST_P(PolicyErrors, MapToTheirVerdictAndKeepTheCode)
{
    const core::CertificateCheck check = core::ClassifyChainPolicyError(GetParam().error);
    EXPECT_EQ(check.verdict, GetParam().verdict);
    EXPECT_EQ(check.code, GetParam().error);
    EXPECT_EQ(check.IsTrusted(), GetParam().error == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PolicyErrors,
    ::testing::Values(PolicyCase{0, CertificateVerdict::Trusted},
                      PolicyCase{0x800B0109, CertificateVerdict::UntrustedRoot},  // CERT_E_UNTRUSTEDROOT
                      PolicyCase{0x800B010A, CertificateVerdict::UntrustedRoot},  // CERT_E_CHAINING
                      PolicyCase{0x800B010D, CertificateVerdict::UntrustedRoot},  // CERT_E_UNTRUSTEDTESTROOT
                      PolicyCase{0x800B0101, CertificateVerdict::Expired},        // CERT_E_EXPIRED
                      PolicyCase{0x800B0102, CertificateVerdict::Expired},        // CERT_E_VALIDITYPERIODNESTING
                      PolicyCase{0x800B010F, CertificateVerdict::NameMismatch},   // CERT_E_CN_NO_MATCH
                      PolicyCase{0x80092010, CertificateVerdict::Revoked},        // CRYPT_E_REVOKED
                      PolicyCase{0x800B0110, CertificateVerdict::WrongUsage},     // CERT_E_WRONG_USAGE
                      PolicyCase{0x800B0106, CertificateVerdict::WrongUsage},     // CERT_E_PURPOSE
                      PolicyCase{0x80096004, CertificateVerdict::Invalid},        // TRUST_E_CERT_SIGNATURE
                      PolicyCase{0x80092012, CertificateVerdict::Invalid}));      // CRYPT_E_NO_REVOCATION_CHECK

TEST(CertificateRefusal, NamesTheHostTheReasonAndTheCode)
{
    EXPECT_EQ(core::DescribeCertificateRefusal(L"cdn.example.com", core::ClassifyChainPolicyError(0x800B010F)),
              L"server certificate refused for cdn.example.com: issued for another host name (0x800B010F)");
    EXPECT_EQ(core::DescribeCertificateRefusal(L"127.0.0.1", core::ClassifyChainPolicyError(0x800B0101)),
              L"server certificate refused for 127.0.0.1: expired or not yet valid (0x800B0101)");
    EXPECT_EQ(core::DescribeCertificateRefusal(L"127.0.0.1", {CertificateVerdict::NoCertificate, 0}),
              L"server certificate refused for 127.0.0.1: the connection presented no certificate");
}

}  // namespace

namespace {

struct ChainCase {
    std::uint32_t status;
    CertificateVerdict verdict;
};

class ChainStatus : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ChainStatus, MapsToItsVerdictAndKeepsTheStatus)
{
    const core::CertificateCheck check = core::ClassifyChainTrustStatus(GetParam().status);
    EXPECT_EQ(check.verdict, GetParam().verdict);
    EXPECT_EQ(check.code, GetParam().status);
}

// An unknown or offline revocation status alone is no refusal; anything else wrong is, the
// worst reason first.
INSTANTIATE_TEST_SUITE_P(
    Table, ChainStatus,
    ::testing::Values(ChainCase{0, CertificateVerdict::Trusted},
                      ChainCase{0x00000040, CertificateVerdict::Trusted},          // revocation unknown
                      ChainCase{0x01000040, CertificateVerdict::Trusted},          // ... and offline
                      ChainCase{0x00000020, CertificateVerdict::UntrustedRoot},
                      ChainCase{0x00010000, CertificateVerdict::UntrustedRoot},    // partial chain
                      ChainCase{0x00010040, CertificateVerdict::UntrustedRoot},
                      ChainCase{0x00000001, CertificateVerdict::Expired},
                      ChainCase{0x00000021, CertificateVerdict::UntrustedRoot},
                      ChainCase{0x00000025, CertificateVerdict::Revoked},
                      ChainCase{0x00000010, CertificateVerdict::WrongUsage},
                      ChainCase{0x00000008, CertificateVerdict::Invalid},          // bad signature
                      ChainCase{0x00000400, CertificateVerdict::Invalid}));        // basic constraints

}  // namespace
