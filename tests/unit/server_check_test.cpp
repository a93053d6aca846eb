// The launcher's own certificate check as the pipeline's libcurl transfers run it: called
// after the handshake of every https request (a redirect's target included) and never for
// plain http, a refusal ending the configuration fetch with 102 and the package transfer with
// 104, logged, with no request sent. The platform's check is a fake here: the native libcurl
// verifies with OpenSSL (told of the test's authority), so these tests see the wiring; the
// Windows tests see the real check.
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "core/text/utf8_text.h"
#include "core/update/server_check.h"
#include "tests/unit/pipeline_fixture.h"

namespace {

using namespace pipeline_test;

class FakeServerCheck : public core::IServerCertificateCheck {
public:
    core::CertificateCheck answer{core::CertificateVerdict::Trusted, 0};
    std::vector<std::pair<curl_sslbackend, std::wstring>> seen;

    core::CertificateCheck Check(const curl_tlssessioninfo& tls, const std::wstring& host) override
    {
        seen.emplace_back(tls.backend, host);
        return answer;
    }
};

std::string TlsPort(const char* name)
{
    const char* port = std::getenv(name);
    return port ? port : "1";
}

std::string GoodTlsUrl(const std::string& path) { return "https://127.0.0.1:" + TlsPort("LAUNCHER_TEST_TLS_GOOD_PORT") + path; }

// The native libcurl trusts the test's authority, so the handshake succeeds and the launcher's
// check is what decides.
CURL* TransferTrustingTheTestAuthority()
{
    CURL* curl = curl_easy_init();
    if (const char* ca = std::getenv("LAUNCHER_TEST_TLS_CA_PEM")) curl_easy_setopt(curl, CURLOPT_CAINFO, ca);
    return curl;
}

// The requests the good https server received (its log in the fixture folder).
std::string GoodTlsRequests() { return ReadAll(fs::path(std::getenv("CHANNEL_FIXTURE_DIR")) / "tls-good-requests.jsonl"); }

class ServerCheck : public PackagePipeline {
protected:
    void SetUp() override
    {
        PackagePipeline::SetUp();
        ASSERT_NE(std::getenv("LAUNCHER_TEST_TLS_CA_PEM"), nullptr) << "run through run_with_test_servers.py";
        before = GoodTlsRequests();
    }
    core::UpdateContext CheckedCtx()
    {
        core::UpdateContext ctx = Ctx();
        ctx.serverCheck = &check;
        ctx.newTransfer = &TransferTrustingTheTestAuthority;
        return ctx;
    }
    int Fetch(const std::string& url)
    {
        core::UpdateContext ctx = CheckedCtx();
        return core::FetchRemoteConfig(ctx, core::Utf8ToWide(url));
    }
    bool Logged(const std::wstring& text)
    {
        for (const auto& line : host.Lines())
            if (line.level == L"ERROR" && line.text == text) return true;
        return false;
    }
    // Requests the good https server received during this test.
    std::string NewTlsRequests() { return GoodTlsRequests().substr(before.size()); }

    FakeServerCheck check;
    std::string before;
};

TEST_F(ServerCheck, AnHttpsConfigurationIsCheckedOnceWithItsHostAndFetchedWhenTrusted)
{
    ASSERT_EQ(Fetch(GoodTlsUrl(kConfigPath)), core::kConfigFetched);
    ASSERT_EQ(check.seen.size(), 1u);
    EXPECT_EQ(check.seen[0].first, CURLSSLBACKEND_OPENSSL);
    EXPECT_EQ(check.seen[0].second, L"127.0.0.1");
    EXPECT_FALSE(state.remoteConfig.empty());
    EXPECT_NE(NewTlsRequests().find(kConfigPath), std::string::npos);
}

// Every verdict but Trusted ends the fetch as a request failure, names the reason in the log
// and sends nothing: the server never sees the request.
class ServerCheckRefusal : public ServerCheck, public ::testing::WithParamInterface<core::CertificateCheck> {};

TEST_P(ServerCheckRefusal, EndsTheConfigurationWith102BeforeTheRequest)
{
    check.answer = GetParam();
    EXPECT_EQ(Fetch(GoodTlsUrl(kConfigPath)), core::kConfigRequestFailed);
    EXPECT_TRUE(state.remoteConfig.empty());
    EXPECT_TRUE(Logged(core::DescribeCertificateRefusal(L"127.0.0.1", GetParam())));
    EXPECT_EQ(NewTlsRequests(), "");
}

INSTANTIATE_TEST_SUITE_P(Verdicts, ServerCheckRefusal,
                         ::testing::Values(core::CertificateCheck{core::CertificateVerdict::UntrustedRoot, 0x800B0109},
                                           core::CertificateCheck{core::CertificateVerdict::NameMismatch, 0x800B010F},
                                           core::CertificateCheck{core::CertificateVerdict::Expired, 0x800B0101},
                                           core::CertificateCheck{core::CertificateVerdict::NoCertificate, 0}));

TEST_F(ServerCheck, PlainHttpIsNeverChecked)
{
    check.answer = {core::CertificateVerdict::UntrustedRoot, 0};
    EXPECT_EQ(Fetch(channel.Url(kConfigPath)), core::kConfigFetched);
    EXPECT_TRUE(check.seen.empty());
}

TEST_F(ServerCheck, AnHttpRedirectToHttpsChecksTheTargetBeforeItsRequest)
{
    ASSERT_TRUE(channel.SetFault(kConfigPath, "\"redirect_to\": \"" + GoodTlsUrl(kConfigPath) + "\""));
    check.answer = {core::CertificateVerdict::NameMismatch, 0x800B010F};
    EXPECT_EQ(Fetch(channel.Url(kConfigPath)), core::kConfigRequestFailed);
    ASSERT_EQ(check.seen.size(), 1u);
    EXPECT_EQ(check.seen[0].second, L"127.0.0.1");
    EXPECT_EQ(NewTlsRequests(), "");
    EXPECT_NE(RequestsText().find(kConfigPath), std::string::npos);  // the http request went out
}

TEST_F(ServerCheck, ARefusedPackageServerFailsTheDownloadWith104AndGetsNoRequest)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    state.remoteConfig[L"ClientDownloadUrl"] = state.remoteConfig[L"Client32DownloadUrl"] =
        core::Utf8ToWide(GoodTlsUrl("/packages/tls/package.zip"));
    check.answer = {core::CertificateVerdict::Expired, 0x800B0101};
    core::UpdateContext ctx = CheckedCtx();
    EXPECT_FALSE(core::OnDownLoad(ctx));
    EXPECT_TRUE(WindowSaw("UpdateProgress(更新失败,请检查网络:104,,0,0)"));
    EXPECT_TRUE(Logged(core::DescribeCertificateRefusal(L"127.0.0.1", check.answer)));
    EXPECT_EQ(NewTlsRequests(), "");
    EXPECT_FALSE(Installed());
}

TEST(UrlSchemeAndHost, ReadsTheSchemeAndHostOfAUrl)
{
    std::string scheme, host;
    ASSERT_TRUE(core::UrlSchemeAndHost("HTTPS://User@Example.com:8443/a?b=c", scheme, host));
    EXPECT_EQ(scheme, "https");
    EXPECT_EQ(host, "Example.com");
    ASSERT_TRUE(core::UrlSchemeAndHost("https://[::1]:443/", scheme, host));
    EXPECT_EQ(host, "::1");
    EXPECT_FALSE(core::UrlSchemeAndHost(nullptr, scheme, host));
    EXPECT_FALSE(core::UrlSchemeAndHost("not a url", scheme, host));
}

}  // namespace
