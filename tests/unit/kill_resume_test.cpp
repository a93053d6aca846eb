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

// While a transfer runs, the record is replaced (written beside it, then renamed over it) once
// the first bytes are in and then every kRecordEveryBytes (and kRecordEvery): a transfer large
// and slow enough to pass several such marks shows each replacement, and a launcher killed
// between writing the new record and renaming it keeps the previous record whole.
namespace {

std::int64_t RecordedOffset(const std::string& record)
{
    const std::size_t at = record.find("\noffset=");
    return at == std::string::npos ? -1 : std::stoll(record.substr(at + 8));
}

// The platform, keeping what each replacing record said and how much of the package was on
// disk then; optionally a launcher that dies at one replacement, before the rename.
class RecordKeepingHost : public core::PosixUpdateHost {
public:
    RecordKeepingHost(fs::path package, int dieAtReplacement = 0, int tellFd = -1)
        : m_package(std::move(package)), m_dieAt(dieAtReplacement), m_tellFd(tellFd)
    {
    }

    bool RenameOver(const std::wstring& from, const std::wstring& to) override
    {
        replacements.push_back({ReadAll(fs::path(from)), static_cast<std::int64_t>(fs::file_size(m_package))});
        if (static_cast<int>(replacements.size()) == m_dieAt) {
            const char stopped = 1;
            if (write(m_tellFd, &stopped, 1) != 1) _exit(3);
            for (;;) pause();  // killed here, the new record written but not yet in place
        }
        return core::PosixUpdateHost::RenameOver(from, to);
    }

    struct Replacement {
        std::string record;
        std::int64_t onDisk;
    };
    std::vector<Replacement> replacements;

private:
    fs::path m_package;
    int m_dieAt;
    int m_tellFd;
};

class RecordDuringTransfer : public KillResume {
protected:
    void ServeLargeSlowPackage()
    {
        // 26 MiB at 1 MiB every 0.3 s: past 8 and 16 MiB, each more than 2 s apart.
        payload = testing_support::NoiseBytes(26 << 20, 5);
        ASSERT_TRUE(testing_support::WriteZip((root / "package.zip").string(), {ZipEntry{"qorn/qorn.exe", payload, false}}));
        package = ReadAll(root / "package.zip");
        ASSERT_TRUE(channel.AddPackage(kPackagePath, (root / "package.zip").string()));
        ASSERT_TRUE(channel.SetFault(kPackagePath, R"("trickle_bytes": 1048576, "trickle_interval": 0.3)"));
        Configure(L"1.0.3.7", L"1.0.0.0");
    }

    core::UpdateContext CtxWith(core::IUpdateHost& platform)
    {
        core::UpdateContext ctx = Ctx();
        return core::UpdateContext{platform, state, &window, ctx.paths, ctx.limits};
    }
};

TEST_F(RecordDuringTransfer, IsReplacedAtTheFirstBytesAndThenEveryEightMebibytes)
{
    ServeLargeSlowPackage();
    RecordKeepingHost platform(install / "qorn.zip");
    core::UpdateContext ctx = CtxWith(platform);
    ASSERT_TRUE(core::OnDownLoad(ctx));
    EXPECT_TRUE(Installed());

    const auto& seen = platform.replacements;
    ASSERT_GE(seen.size(), 3u) << "the first record and at least two at 8 MiB marks";
    std::int64_t previous = -1;
    for (const auto& r : seen) {
        const std::int64_t offset = RecordedOffset(r.record);
        EXPECT_GT(offset, 0) << r.record;
        EXPECT_LE(offset, r.onDisk) << "a record may count only bytes that reached the disk";
        EXPECT_NE(r.record.find("\ntotalSize=" + std::to_string(package.size()) + "\n"), std::string::npos) << r.record;
        if (previous >= 0) {
            EXPECT_GE(offset - previous, core::kRecordEveryBytes) << r.record;
        } else {
            EXPECT_LT(offset, core::kRecordEveryBytes) << "the first record follows the first bytes";
        }
        previous = offset;
    }
    EXPECT_FALSE(fs::exists(install / "tempdownload.dat.new"));
}

TEST_F(RecordDuringTransfer, AKillBetweenWritingAndRenamingKeepsThePreviousRecordWhole)
{
    ServeLargeSlowPackage();
    int tell[2];
    ASSERT_EQ(pipe(tell), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(tell[0]);
        RecordKeepingHost platform(install / "qorn.zip", 2, tell[1]);
        core::UpdateContext ctx = CtxWith(platform);
        _exit(core::OnDownLoad(ctx) ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    close(tell[1]);
    char stopped = 0;
    const bool reached = read(tell[0], &stopped, 1) == 1;  // the child's second replacement
    close(tell[0]);
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(reached) << "the transfer never reached its second record";

    // The record in place is the first one, whole; the unfinished new one lies beside it.
    const std::string record = ReadAll(install / "tempdownload.dat");
    const std::int64_t offset = RecordedOffset(record);
    EXPECT_GT(offset, 0) << record;
    EXPECT_LT(offset, core::kRecordEveryBytes) << record;
    EXPECT_NE(record.find("\ntotalSize=" + std::to_string(package.size()) + "\n"), std::string::npos) << record;
    EXPECT_GE(RecordedOffset(ReadAll(install / "tempdownload.dat.new")), core::kRecordEveryBytes);
    const std::string partial = ReadAll(install / "qorn.zip");
    ASSERT_EQ(partial, package.substr(0, partial.size()));

    // The next start resumes and completes the install.
    ASSERT_TRUE(channel.ClearFaults(kPackagePath));
    ASSERT_TRUE(channel.ClearLogs());
    core::UpdateContext ctx = Ctx();
    testsupport::StartAgain(ctx);
    Configure(L"1.0.3.7", L"1.0.0.0");
    ASSERT_TRUE(core::OnDownLoad(ctx));
    EXPECT_TRUE(Installed());
    const auto requests = PackageRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_GE(requests[0].first, offset) << "the next start resumes";
}

TEST(TransferLimits, TheLauncherGivesAConnection30sAStall60sAndTheConfiguration60s)
{
    // The limits every launcher runs with (its context takes the defaults).
    core::PosixUpdateHost platform;
    core::PipelineState state;
    testing_support::RecordingWindow window;
    const core::UpdateContext ctx{platform, state, &window, core::PipelinePaths{}};
    EXPECT_EQ(ctx.limits.connectTimeoutSeconds, 30);
    EXPECT_EQ(ctx.limits.stallSeconds, 60);
    EXPECT_EQ(ctx.limits.configTotalSeconds, 60);
}

}  // namespace
