// The package walk on any bytes: the input is the package file in an install folder of this
// process, unpacked into its client folder. Whatever the archive holds, nothing outside the
// client folder may change (the install folder around it is compared before and after), every
// file and folder the walk makes or removes must lie inside it, and the progress stays within
// 0 to 100, only grows and is shown from the calling thread alone. Inputs of odd length are
// unpacked by one worker, the others by three. The client folder is emptied after each input.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "core/update/package_extraction.h"
#include "core/update/posix_update_host.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

void Put(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The sandbox: an install folder with the files a real one holds beside the client folder,
// and a sibling folder one more ".." away.
struct Sandbox {
    fuzz::ScratchFolder scratch;
    fs::path install = scratch.Path() / "install";
    fs::path client = install / "client";
    fs::path package = install / "qorn.zip";

    Sandbox()
    {
        fs::create_directories(client);
        fs::create_directories(scratch.Path() / "neighbour");
        Put(install / "tempdownload.dat", "downloadVersion=1.0.3.7\noffset=600\ntotalSize=1000\n");
        Put(install / "qorn.exe", "launcher copy");
        Put(scratch.Path() / "neighbour" / "keep.txt", "not the client's");
    }
};

// Every path below the sandbox except the client folder's contents and the package, with its
// size and a digest of its bytes (-1 and 0 for folders).
using Snapshot = std::map<std::string, std::pair<std::intmax_t, std::size_t>>;

Snapshot TakeSnapshot(const Sandbox& box)
{
    Snapshot snap;
    const fs::path root = box.scratch.Path();
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path& p = it->path();
        if (p == box.package) continue;
        const bool folder = it->is_directory() && !it->is_symlink();
        snap[p.lexically_relative(root).string()] =
            folder ? std::make_pair(std::intmax_t{-1}, std::size_t{0})
                   : std::make_pair(static_cast<std::intmax_t>(it->is_regular_file() ? it->file_size() : 0),
                                    std::hash<std::string>{}(Slurp(p)));
        if (p == box.client) it.disable_recursion_pending();
    }
    return snap;
}

// Inside the client folder once "..", "." and links are resolved.
bool InsideClient(const Sandbox& box, const std::wstring& path)
{
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::path(core::WideToUtf8(path)), error);
    if (error) return false;
    const fs::path relative = resolved.lexically_relative(fs::canonical(box.client));
    return !relative.empty() && *relative.begin() != "..";
}

// The POSIX host with every folder the walk makes and every file it writes checked.
class GuardedHost : public core::PosixUpdateHost {
public:
    explicit GuardedHost(const Sandbox& box) : m_box(box) {}
    std::FILE* OpenFile(const std::wstring& path, const char* mode) override
    {
        if (mode[0] != 'r') FUZZ_CHECK(InsideClient(m_box, path));
        return PosixUpdateHost::OpenFile(path, mode);
    }
    bool MakeDirectory(const std::wstring& path) override
    {
        FUZZ_CHECK(InsideClient(m_box, path));
        return PosixUpdateHost::MakeDirectory(path);
    }
    // The walk deletes the package it unpacked and the files it could not finish, nothing else.
    bool RemoveFile(const std::wstring& path) override
    {
        FUZZ_CHECK(fs::path(core::WideToUtf8(path)) == m_box.package || InsideClient(m_box, path));
        return PosixUpdateHost::RemoveFile(path);
    }

private:
    const Sandbox& m_box;
};

class ProgressCheck : public core::ILauncherWindow {
public:
    void UpdateProgress(const std::wstring& status, const std::wstring&, int percent, int downloading) override
    {
        FUZZ_CHECK(std::this_thread::get_id() == m_caller);
        FUZZ_CHECK(percent >= 0 && percent <= 100 && downloading == 0);
        // The walk's own calls (no status text) only move forward.
        if (!status.empty()) return;
        FUZZ_CHECK(percent >= m_lastPercent);
        m_lastPercent = percent;
    }
    void ShowProgressControls(bool) override { FUZZ_CHECK(std::this_thread::get_id() == m_caller); }
    void InitWebBrower() override {}
    void SetReady() override { FUZZ_CHECK(std::this_thread::get_id() == m_caller); }

private:
    int m_lastPercent = 0;
    const std::thread::id m_caller = std::this_thread::get_id();
};

void EmptyFolder(const fs::path& folder)
{
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Sandbox box;
    Put(box.package, std::string(reinterpret_cast<const char*>(data), size));
    const Snapshot before = TakeSnapshot(box);

    GuardedHost host(box);
    core::PipelineState state;
    state.remoteConfig[L"ClientVersion"] = L"1.0.3.7";
    ProgressCheck window;
    core::UpdateContext ctx{host, state, &window,
                            core::PipelinePaths{box.install.wstring(), box.client.wstring(), L"qorn", L"palmet", L"qorn"}};
    ctx.unzipWorkers = size % 2 ? 1 : 3;
    core::UnzipFile(ctx, box.package.wstring(), nullptr);

    FUZZ_CHECK(TakeSnapshot(box) == before);
    EmptyFolder(box.client);
    return 0;
}
