// The launcher's own TLS check under Wine, whose Schannel accepts any certificate: the https
// channel servers of run_with_test_servers.py present a certificate from the test's authority
// (trusted here, in this prefix's root store only), one from an authority nobody trusts, one
// for another host name and an expired one. The check's verdicts, then the configuration
// fetch, the package download and a report through WinInet: each reaches only the first
// server, and the others never receive the request.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/update/package_download.h"
#include "core/update/remote_config.h"
#include "http/http_request_manager.h"
#include "http/server_certificate.h"
#include "tests/support/raw_zip.h"
#include "tests/win/win_pipeline_support.h"
#include "tests/win/win_test_support.h"

namespace {

const std::string kConfigPath = "/api/merth/ditches/palmet/client_config_palmet.php";

struct TlsServer {
    const char* name;  // as in tls-<name>-requests.jsonl
    const wchar_t* portVariable;
    core::CertificateVerdict verdict;
};

const TlsServer kGood{"good", L"LAUNCHER_TEST_TLS_GOOD_PORT", core::CertificateVerdict::Trusted};
const TlsServer kRefused[] = {
    {"untrusted", L"LAUNCHER_TEST_TLS_UNTRUSTED_PORT", core::CertificateVerdict::UntrustedRoot},
    {"wrong_host", L"LAUNCHER_TEST_TLS_WRONG_HOST_PORT", core::CertificateVerdict::NameMismatch},
    {"expired", L"LAUNCHER_TEST_TLS_EXPIRED_PORT", core::CertificateVerdict::Expired},
};

int Port(const TlsServer& server) { return wintest::PortFromEnvironment(server.portVariable); }

std::wstring Url(const TlsServer& server, const std::string& path)
{
    return L"https://127.0.0.1:" + std::to_wstring(Port(server)) + std::wstring(path.begin(), path.end());
}

std::string FixturePath(const std::string& name) { return std::string(std::getenv("CHANNEL_FIXTURE_DIR")) + "/" + name; }

// The requests a server has received so far (its log in the fixture folder).
std::string RequestsOf(const TlsServer& server)
{
    const auto bytes = wintest::ReadFileBytes(wintest::HostPath(FixturePath(std::string("tls-") + server.name + "-requests.jsonl").c_str()));
    return std::string(bytes.begin(), bytes.end());
}

// The test's authority in this prefix's root store (the local machine's, which every user's
// chain engine reads), once per run.
bool TrustTestAuthority()
{
    static const bool trusted = [] {
        const char* path = std::getenv("LAUNCHER_TEST_TLS_CA");
        if (!path) return false;
        const auto der = wintest::ReadFileBytes(wintest::HostPath(path));
        HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
        if (!root || der.empty()) return false;
        const BOOL added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                            static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        CertCloseStore(root, 0);
        return added != FALSE;
    }();
    return trusted;
}

// The log, for a failure's message.
std::string LogText(const wintest::RecordingHost& host)
{
    std::string text;
    for (const std::wstring& line : host.lines) text += std::string(line.begin(), line.end()) + "\n";
    return text;
}

bool LoggedRefusal(const wintest::RecordingHost& host, const core::CertificateVerdict verdict)
{
    const std::wstring prefix = L"ERROR:" + core::DescribeCertificateRefusal(L"127.0.0.1", {verdict, 0});
    for (const std::wstring& line : host.lines)
        if (line.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

class LaunchersOwnTlsCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(Port(kGood), 0) << "run through tests/support/run_with_test_servers.py";
        ASSERT_TRUE(TrustTestAuthority());
    }
    core::UpdateContext Ctx()
    {
        core::UpdateContext ctx{host, state, &window, core::PipelinePaths{dir.path(), dir.path() + L"\\client", L"qorn", L"palmet", L"qorn"},
                                core::TransferLimits{5, 5}};
        ctx.serverCheck = &check;
        return ctx;
    }

    class SilentWindow : public core::ILauncherWindow {
    public:
        void UpdateProgress(const std::wstring& status, const std::wstring&, int, int) override
        {
            if (!status.empty()) last = status;
        }
        void ShowProgressControls(bool) override {}
        void InitWebBrower() override {}
        void SetReady() override {}
        std::wstring last;
    };

    wintest::TempDir dir{L"tls"};
    wintest::RecordingHost host;
    core::PipelineState state;
    SilentWindow window;
    CSchannelServerCheck check;
};

TEST_F(LaunchersOwnTlsCheck, VerdictOfEachServersCertificate)
{
    for (const TlsServer& server : {kGood, kRefused[0], kRefused[1], kRefused[2]}) {
        const core::CertificateCheck got = CheckTlsServer(L"127.0.0.1", static_cast<unsigned short>(Port(server)), 10);
        EXPECT_EQ(got.verdict, server.verdict) << server.name << " 0x" << std::hex << got.code;
    }
}

TEST_F(LaunchersOwnTlsCheck, ConfigurationOnlyFromTheTrustedServer)
{
    core::UpdateContext ctx = Ctx();
    ASSERT_EQ(core::FetchRemoteConfig(ctx, Url(kGood, kConfigPath)), core::kConfigFetched) << LogText(host);
    EXPECT_FALSE(state.remoteConfig.empty());
    for (const TlsServer& server : kRefused) {
        state.remoteConfig.clear();
        const std::string before = RequestsOf(server);
        EXPECT_EQ(core::FetchRemoteConfig(ctx, Url(server, kConfigPath)), core::kConfigRequestFailed) << server.name;
        EXPECT_TRUE(state.remoteConfig.empty());
        EXPECT_TRUE(LoggedRefusal(host, server.verdict)) << server.name;
        EXPECT_EQ(RequestsOf(server), before) << server.name << ": the request went out";
    }
}

TEST_F(LaunchersOwnTlsCheck, PackageOnlyFromTheTrustedServer)
{
    ASSERT_TRUE(CreateDirectoryW((dir.path() + L"\\client").c_str(), nullptr));
    testing_support::RawZip zip;
    zip.Add("qorn/", "");
    zip.Add("qorn/qorn.exe", "a game over https");
    ASSERT_TRUE(wintest::WriteFileBytes(wintest::HostPath(FixturePath("tls-package.zip").c_str()), zip.Bytes()));
    state.remoteClientVersion = core::ParseClientVersion(L"1.0.3.7");
    state.miniUpdateVersion = core::ParseClientVersion(L"1.0.0.0");
    for (const TlsServer& server : kRefused) {
        const std::wstring url = Url(server, "/packages/tls/package.zip");
        state.remoteConfig = {{L"ClientVersion", L"1.0.3.7"}, {L"ClientDownloadUrl", url}, {L"Client32DownloadUrl", url}};
        const std::string before = RequestsOf(server);
        core::UpdateContext ctx = Ctx();
        EXPECT_FALSE(core::OnDownLoad(ctx)) << server.name;
        EXPECT_EQ(window.last, L"更新失败,请检查网络:104") << server.name;
        EXPECT_TRUE(LoggedRefusal(host, server.verdict)) << server.name;
        EXPECT_EQ(RequestsOf(server), before) << server.name << ": the request went out";
    }
    const std::wstring url = Url(kGood, "/packages/tls/package.zip");
    state.remoteConfig = {{L"ClientVersion", L"1.0.3.7"}, {L"ClientDownloadUrl", url}, {L"Client32DownloadUrl", url}};
    core::UpdateContext ctx = Ctx();
    ASSERT_TRUE(core::OnDownLoad(ctx));
    const auto game = wintest::ReadFileBytes(dir.path() + L"\\client\\qorn\\qorn.exe");
    EXPECT_EQ(std::string(game.begin(), game.end()), "a game over https");
}

// A report is a GET whose query is its data: through the request engine it reaches only the
// trusted server, and a refused one is never sent.
class ReportManager : public FCHttpRequestManager {
public:
    struct Done {
        int status = -1;
        std::wstring refusal;
    };
    Done Send(const std::wstring& url)
    {
        FCHttpRequestHeader header;
        header.m_strUrl = url;
        const int id = StartRequest(header);
        m_id = id;
        wintest::PumpMessagesUntil([&] { return m_done.status >= 0; }, 60000);
        return m_done;
    }

protected:
    void OnRequestComplete(FCHttpRequest& request) override
    {
        if (request.GetRequestID() != m_id) return;
        m_done = Done{request.GetResponseInfo().m_nStatusCode, request.GetCertificateRefusal()};
    }

private:
    int m_id = 0;
    Done m_done;
};

TEST_F(LaunchersOwnTlsCheck, ReportsOnlyToTheTrustedServer)
{
    const std::string query = "/api/laucher_info.php?client_uid=tls-report&ac=create";
    {
        ReportManager manager;
        const ReportManager::Done done = manager.Send(Url(kGood, query));
        EXPECT_EQ(done.status, 200);
        EXPECT_EQ(done.refusal, L"");
        EXPECT_NE(RequestsOf(kGood).find("client_uid=tls-report"), std::string::npos);
    }
    for (const TlsServer& server : kRefused) {
        ReportManager manager;
        const ReportManager::Done done = manager.Send(Url(server, query));
        EXPECT_EQ(done.status, 0) << server.name;
        const std::wstring prefix = core::DescribeCertificateRefusal(L"127.0.0.1", {server.verdict, 0});
        EXPECT_EQ(done.refusal.compare(0, prefix.size(), prefix), 0) << server.name;
        EXPECT_EQ(RequestsOf(server).find("client_uid=tls-report"), std::string::npos) << server.name;
    }
}

}  // namespace
