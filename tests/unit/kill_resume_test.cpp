// A launcher killed again and again in the middle of a large download: each start runs the
// download in a child process that is killed (SIGKILL, nothing written at close) at a random
// moment. Every next start must resume from what reached the disk, the partial package must
// always be a prefix of the real one, and the last start must install byte-identical files
// without the server having sent much more than one package.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <regex>
#include <thread>

#include "tests/unit/pipeline_fixture.h"

namespace {

using namespace pipeline_test;

constexpr std::size_t kPackageMiB = 100;
constexpr int kKills = 10;

class KillResume : public PackagePipeline {
protected:
    // One start of the launcher: the resume values read from the record as the driver reads
    // them, then the download, in a child process. Returns its pid.
    pid_t StartLauncher()
    {
        const pid_t pid = fork();
        if (pid != 0) return pid;
        core::UpdateContext ctx = Ctx();
        testsupport::StartAgain(ctx);  // killed: no record was written at close
        Configure(L"1.0.3.7", L"1.0.0.0");
        const bool ok = core::OnDownLoad(ctx);
        _exit(ok ? 0 : 1);
    }

    // The range and the bytes sent of every package request, in order.
    std::vector<std::pair<std::int64_t, std::int64_t>> PackageRequests()
    {
        std::vector<std::pair<std::int64_t, std::int64_t>> found;
        const std::string text = RequestsText();
        const std::regex entry("\"path\": \"" + kPackagePath +
                               R"(\".*?\"range\": (null|\"bytes=(\d+)-\").*?\"bytes_sent\": (\d+))");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), entry); it != std::sregex_iterator(); ++it)
            found.emplace_back((*it)[2].matched ? std::stoll((*it)[2]) : -1, std::stoll((*it)[3]));
        return found;
    }
};

TEST_F(KillResume, EveryRestartResumesAndTheInstallIsExact)
{
    // A package of one big stored entry, served slowly enough that every kill lands mid-transfer.
    payload = testing_support::NoiseBytes(kPackageMiB << 20, 11);
    ASSERT_TRUE(testing_support::WriteZip((root / "package.zip").string(), {ZipEntry{"qorn/qorn.exe", payload, false}}));
    package = ReadAll(root / "package.zip");
    ASSERT_TRUE(channel.AddPackage(kPackagePath, (root / "package.zip").string()));
    ASSERT_TRUE(channel.SetFault(kPackagePath, R"("trickle_bytes": 1048576, "trickle_interval": 0.05)"));

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("random seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMs(150, 450);

    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t pid = StartLauncher();
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "start " << kill + 1 << " ended before its kill";
        ::kill(pid, SIGKILL);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        const std::string partial = ReadAll(install / "qorn.zip");
        ASSERT_LT(partial.size(), package.size());
        ASSERT_EQ(partial, package.substr(0, partial.size())) << "after kill " << kill + 1;
    }

    const pid_t last = StartLauncher();
    int status = 0;
    ASSERT_EQ(waitpid(last, &status, 0), last);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the last start must complete the install";
    EXPECT_TRUE(Installed());
    EXPECT_FALSE(fs::exists(install / "qorn.zip"));

    const auto requests = PackageRequests();
    ASSERT_EQ(requests.size(), static_cast<std::size_t>(kKills + 1));
    EXPECT_EQ(requests[0].first, -1) << "the first start asks for the whole package";
    std::int64_t sent = 0, previous = 0;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (i > 0) {
            EXPECT_GT(requests[i].first, previous) << "start " << i + 1 << " must resume past the last one";
            previous = requests[i].first;
        }
        sent += requests[i].second;
    }
    EXPECT_LT(sent, static_cast<std::int64_t>(package.size()) * 3 / 2) << "bytes sent in all: " << sent;
}

}  // namespace
