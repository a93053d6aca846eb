// The package extraction tests' fixture: a temporary install folder with its client folder,
// a POSIX host that can make writes fail or wait, and a window that records its calls and
// checks that they all come from the test's own thread.
#pragma once
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/update/package_extraction.h"
#include "core/update/posix_update_host.h"
#include "tests/unit/recording_window.h"
#include "tests/unit/zip_fixture.h"

namespace extraction_test {

namespace fs = std::filesystem;
using testing_support::ZipEntry;

inline std::wstring Wide(const fs::path& p) { return core::Utf8ToWide(p.string()); }

inline std::optional<std::string> Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void Put(const fs::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Opens once; from then on waiting passes at once. A wait gives up after a while, so that a walk
// that never opens it fails its test instead of hanging it.
class Gate {
public:
    void Open()
    {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_open = true;
        }
        m_opened.notify_all();
    }
    bool Wait()
    {
        std::unique_lock<std::mutex> hold(m_lock);
        return m_opened.wait_for(hold, std::chrono::seconds(30), [this] { return m_open; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_opened;
    bool m_open = false;
};

// Polls until done() holds or 30 s have passed (the test then fails on what it finds).
template <typename Done>
void WaitUntil(Done done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

inline bool EndsWith(const std::wstring& text, const std::wstring& end)
{
    return !end.empty() && text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A file whose first write waits at the gate before it reaches the real file.
inline std::FILE* OpenStalled(std::FILE* real, Gate& gate)
{
    struct Stalled {
        std::FILE* real;
        Gate& gate;
        bool passed = false;
    };
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* bytes, std::size_t size) -> ssize_t {
        auto* s = static_cast<Stalled*>(cookie);
        if (!s->passed) s->passed = s->gate.Wait();
        return static_cast<ssize_t>(std::fwrite(bytes, 1, size, s->real));
    };
    io.close = [](void* cookie) -> int {
        auto* s = static_cast<Stalled*>(cookie);
        const int closed = std::fclose(s->real);
        delete s;
        return closed;
    };
    return fopencookie(new Stalled{real, gate}, "w", io);
}

// A file whose writes all pass but whose close fails, as a file system that reports a failed
// write only when the file is closed (a network drive, delayed allocation) does.
inline std::FILE* OpenFailingAtClose(std::FILE* real)
{
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* bytes, std::size_t size) -> ssize_t {
        return static_cast<ssize_t>(std::fwrite(bytes, 1, size, static_cast<std::FILE*>(cookie)));
    };
    io.close = [](void* cookie) -> int {
        std::fclose(static_cast<std::FILE*>(cookie));
        errno = ENOSPC;
        return -1;
    };
    return fopencookie(real, "w", io);
}

// The POSIX host, except that files of one chosen name are written to /dev/full, where every
// write fails with "no space left on device"; files of another chosen name fail only when they
// are closed; files whose names end in another chosen text are
// held at their first write until the stall gate opens (it opens when an error is logged); and
// the free space may be a chosen figure. It records the files opened for writing, in order.
class TestHost : public core::PosixUpdateHost {
public:
    std::FILE* OpenFile(const std::wstring& path, const char* mode) override
    {
        if (mode[0] == 'w') {
            std::lock_guard<std::mutex> hold(m_openedLock);
            m_opened.push_back(path);
        }
        if (EndsWith(path, diskFullName)) return std::fopen("/dev/full", mode);
        std::FILE* file = PosixUpdateHost::OpenFile(path, mode);
        if (file && EndsWith(path, closeFailName)) return OpenFailingAtClose(file);
        if (file && EndsWith(path, stallName)) return OpenStalled(file, stallGate);
        return file;
    }
    void Log(const wchar_t* level, const char* function, int line, const std::wstring& text) override
    {
        PosixUpdateHost::Log(level, function, line, text);
        if (std::wstring(level) == L"ERROR") stallGate.Open();
    }
    std::vector<std::wstring> Opened()
    {
        std::lock_guard<std::mutex> hold(m_openedLock);
        return m_opened;
    }
    // A single-byte code page stand-in (each byte one character, as Latin-1), so a name read
    // with the code page differs from the same bytes read as UTF-8.
    std::wstring FromAnsi(const std::string& bytes) override
    {
        if (!singleByteCodePage) return PosixUpdateHost::FromAnsi(bytes);
        std::wstring text;
        for (unsigned char c : bytes) text += static_cast<wchar_t>(c);
        return text;
    }
    std::int64_t FreeBytes(const std::wstring& folder) override
    {
        return freeBytes ? *freeBytes : PosixUpdateHost::FreeBytes(folder);
    }
    std::wstring diskFullName;
    std::wstring closeFailName;
    std::wstring stallName;
    Gate stallGate;
    bool singleByteCodePage = false;
    std::optional<std::int64_t> freeBytes;

private:
    std::mutex m_openedLock;
    std::vector<std::wstring> m_opened;
};

// "UpdateProgress(,k/N,percent,0)" + "ShowProgressControls(1)" for each entry done.
inline std::vector<std::string> EntryProgress(int total, const std::vector<int>& percents)
{
    std::vector<std::string> calls;
    for (int k = 1; k <= static_cast<int>(percents.size()); ++k) {
        calls.push_back("UpdateProgress(," + std::to_string(k) + "/" + std::to_string(total) + "," +
                        std::to_string(percents[static_cast<std::size_t>(k - 1)]) + ",0)");
        calls.push_back("ShowProgressControls(1)");
    }
    return calls;
}

inline const std::vector<std::string> kCompletion = {"UpdateProgress(更新已完成,,0,0)", "ShowProgressControls(0)",
                                              "SetReady()"};
inline const std::vector<std::string> kFailure = {"UpdateProgress(解压失败,,0,0)", "ShowProgressControls(0)"};

inline std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The number of threads the walk unpacks with in these tests: LAUNCHER_TEST_UNZIP_WORKERS, so
// that the same tests run once with one worker and once with several; one when it is unset.
inline unsigned WorkersUnderTest()
{
    const char* text = std::getenv("LAUNCHER_TEST_UNZIP_WORKERS");
    const unsigned long n = text ? std::strtoul(text, nullptr, 10) : 0;
    return n > 0 ? static_cast<unsigned>(n) : 1u;
}

// Records the calls, and whether any came from a thread other than the one that made it: the
// window is only ever called from the update thread, never from the walk's workers.
class SameThreadWindow : public testing_support::RecordingWindow {
public:
    void UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent, int downloading) override
    {
        Check();
        RecordingWindow::UpdateProgress(status, detail, percent, downloading);
    }
    void ShowProgressControls(bool show) override
    {
        Check();
        RecordingWindow::ShowProgressControls(show);
    }
    void SetReady() override
    {
        Check();
        RecordingWindow::SetReady();
    }
    bool CalledFromOtherThreads() const { return m_otherThreads.load(); }

private:
    void Check()
    {
        if (std::this_thread::get_id() != m_owner) m_otherThreads.store(true);
    }
    const std::thread::id m_owner = std::this_thread::get_id();
    std::atomic<bool> m_otherThreads{false};
};

class PackageExtraction : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "launcher-unzip-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        install = root / "qorn-palmet";
        client = install / "client";
        package = install / "qorn.zip";
        fs::create_directories(client);
    }
    void TearDown() override
    {
        EXPECT_FALSE(window.CalledFromOtherThreads());
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    core::UpdateContext Context(core::ILauncherWindow* w)
    {
        core::UpdateContext ctx{host, state, w, core::PipelinePaths{Wide(install), Wide(client), L"qorn", L"palmet", L"qorn"}};
        ctx.unzipWorkers = workers;
        return ctx;
    }
    bool Unzip(std::FILE* handle = nullptr) { return UnzipWith(&window, handle); }
    bool UnzipWith(core::ILauncherWindow* w, std::FILE* handle = nullptr)
    {
        auto ctx = Context(w);
        return core::UnzipFile(ctx, Wide(package), handle);
    }
    bool Pack(const std::vector<ZipEntry>& entries) { return testing_support::WriteZip(package.string(), entries); }
    // An empty client folder and the package of these entries, for a test that unpacks several times.
    bool Repack(const std::vector<ZipEntry>& entries)
    {
        fs::remove_all(client);
        fs::create_directories(client);
        return Pack(entries);
    }
    // A context on a host and state of the test's own, with a chosen number of workers.
    core::UpdateContext ContextOn(core::IUpdateHost& h, core::PipelineState& s, core::ILauncherWindow* w, unsigned count)
    {
        core::UpdateContext ctx{h, s, w, core::PipelinePaths{Wide(install), Wide(client), L"qorn", L"palmet", L"qorn"}};
        ctx.unzipWorkers = count;
        return ctx;
    }

    std::vector<std::wstring> Errors() const
    {
        std::vector<std::wstring> texts;
        for (const auto& l : host.Lines())
            if (l.level == L"ERROR") texts.push_back(l.text);
        return texts;
    }
    bool HasErrorContaining(const std::wstring& part) const
    {
        const auto errors = Errors();
        return std::any_of(errors.begin(), errors.end(),
                           [&](const std::wstring& t) { return t.find(part) != std::wstring::npos; });
    }
    std::string ErrorsText() const
    {
        std::string text;
        for (const auto& e : Errors()) text += core::WideToUtf8(e) + "\n";
        return text;
    }
    // Every file and folder below the temporary root, with the files' contents.
    std::vector<std::string> Tree() const
    {
        std::vector<std::string> items;
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            const std::string rel = fs::relative(e.path(), root).string();
            if (e.is_directory())
                items.push_back(rel + "/");
            else
                items.push_back(rel + "=" + Slurp(e.path()).value_or("?"));
        }
        std::sort(items.begin(), items.end());
        return items;
    }
    // What a failed extraction must show: "解压失败", the log's last word, the failure report,
    // the package kept and none of the completion steps.
    void ExpectFailedRun()
    {
        EXPECT_TRUE(host.HasLine(L"ERROR", L"unzip is error!"));
        ASSERT_FALSE(host.Reports().empty());
        EXPECT_EQ(host.Reports().back(), L"message:game unzip failed");
        const auto calls = window.Calls();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()), kFailure);
        EXPECT_TRUE(fs::exists(package));
        EXPECT_TRUE(host.DesktopSteps().empty());
        EXPECT_FALSE(fs::exists(client / "game_client_version.txt"));
    }
    // The window's calls of a walk that failed after some of its total entries: each finished
    // entry counted one by one from 1/total, then "解压失败". With several workers, entries
    // under way may finish or be abandoned, so how many finished varies.
    void ExpectCountedProgressThenFailure(int total)
    {
        const auto calls = window.Calls();
        ASSERT_GE(calls.size(), kFailure.size());
        const int finished = static_cast<int>(calls.size() - kFailure.size()) / 2;
        EXPECT_LT(finished, total);
        std::vector<int> percents;
        for (int k = 1; k <= finished; ++k) percents.push_back(k * 100 / total);
        EXPECT_EQ(calls, Concat(EntryProgress(total, percents), kFailure));
    }
    // The same; with one worker the entries finish in the archive's order, which fixes how many
    // finished (singleWorkerPercents).
    void ExpectProgressThenFailure(int total, const std::vector<int>& singleWorkerPercents)
    {
        if (workers > 1) return ExpectCountedProgressThenFailure(total);
        EXPECT_EQ(window.Calls(), Concat(EntryProgress(total, singleWorkerPercents), kFailure));
    }
    // After a failed walk the client folder holds only whole files: each one present is one of
    // these with exactly its content.
    void ExpectOnlyWholeFiles(const std::map<std::string, std::string>& whole)
    {
        for (const auto& e : fs::recursive_directory_iterator(client)) {
            if (e.is_directory()) continue;
            const std::string rel = fs::relative(e.path(), client).string();
            const auto it = whole.find(rel);
            if (it == whole.end())
                ADD_FAILURE() << rel << " should not be there";
            else
                EXPECT_EQ(Slurp(e.path()), it->second) << rel << " is not whole";
        }
    }

    fs::path root, install, client, package;
    TestHost host;
    core::PipelineState state;
    SameThreadWindow window;
    const unsigned workers = WorkersUnderTest();
};

}  // namespace extraction_test
