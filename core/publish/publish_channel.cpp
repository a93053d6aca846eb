#include "core/publish/publish_channel.h"

#include <atomic>
#include <chrono>
#include <system_error>

#include "core/publish/channel_config.h"
#include "core/publish/publish_files.h"
#include "core/text/utf8_text.h"
#include "core/update/client_version.h"

namespace core {

namespace fs = std::filesystem;

namespace {

// A folder beside OUT (so renames into OUT stay on one file system), removed unless kept.
class StagingFolder {
public:
    bool Create(const fs::path& out, std::string& error)
    {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        const fs::path parent = out.parent_path().empty() ? fs::path(".") : out.parent_path();
        std::error_code ec;
        fs::create_directories(parent, ec);
        m_path = parent / Utf8Path("." + PathUtf8(out.filename()) + ".publishing-" + std::to_string(stamp) + "-" +
                                   std::to_string(counter++));
        if (ec || !fs::create_directory(m_path, ec) || ec) {
            error = "cannot create the temporary folder " + PathUtf8(m_path) + (ec ? ": " + ec.message() : "");
            m_path.clear();
            return false;
        }
        return true;
    }
    ~StagingFolder()
    {
        std::error_code ec;
        if (!m_path.empty()) fs::remove_all(m_path, ec);
    }
    const fs::path& path() const { return m_path; }
    void Release() { m_path.clear(); }

private:
    fs::path m_path;
};

// "out/", "." and relative paths as one absolute folder path with a last part of its own.
fs::path FolderPath(const fs::path& folder)
{
    std::error_code ec;
    fs::path path = fs::absolute(folder, ec).lexically_normal();
    while (path.has_parent_path() && path.filename().empty()) path = path.parent_path();
    return path;
}

std::string TrimmedBaseUrl(std::string url)
{
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

// OUT may be new, empty, or a channel folder from an earlier publish; anything else is most
// likely the wrong folder, and publishing would scatter files through it.
std::string OutProblem(const fs::path& out)
{
    std::error_code ec;
    if (!fs::exists(out, ec)) return "";
    if (!fs::is_directory(out, ec)) return PathUtf8(out) + ": exists and is not a folder";
    if (fs::is_empty(out, ec) || fs::is_directory(out / "api" / "merth" / "ditches", ec) ||
        fs::is_directory(out / "packages", ec))
        return "";
    return PathUtf8(out) + ": holds other files; publish into a new or empty folder, or one published before";
}

bool MakeParent(const fs::path& file, std::string& error)
{
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (!ec) return true;
    error = "cannot create " + PathUtf8(file.parent_path()) + ": " + ec.message();
    return false;
}

bool MoveInto(const fs::path& from, const fs::path& to, std::string& error)
{
    if (!MakeParent(to, error)) return false;
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec) return true;
    error = "cannot move " + PathUtf8(from) + " to " + PathUtf8(to) + ": " + ec.message();
    return false;
}

void Count(const std::vector<PackageEntry>& entries, PublishSummary& summary)
{
    for (const PackageEntry& entry : entries) {
        if (entry.directory) {
            ++summary.folders;
        } else {
            ++summary.files;
            summary.bytes += entry.size;
        }
    }
}

struct HashProgress {
    const PublishRequest* request;
    PackProgress figures;
};

void ReportHashing(void* context, std::uint64_t done)
{
    auto* hashing = static_cast<HashProgress*>(context);
    hashing->figures.bytesDone = done;
    hashing->request->progress("hashing", hashing->figures);
}

}  // namespace

std::string PublishRequestProblem(const PublishRequest& request)
{
    if (std::string p = CodeProblem(request.gameCode); !p.empty()) return "--code " + p;
    if (std::string p = CodeProblem(request.channel); !p.empty()) return "--channel " + p;
    if (std::string p = VersionProblem(request.version); !p.empty()) return "--version " + p;
    const std::string mini = request.miniVersion.empty() ? request.version : request.miniVersion;
    if (std::string p = VersionProblem(mini); !p.empty()) return "--mini-version " + p;
    // The launcher records the installed version as "ClientVersion"; a higher minimum would
    // send every launcher to the package at every start.
    if (ParseClientVersion(Utf8ToWide(request.version)) < ParseClientVersion(Utf8ToWide(mini)))
        return "--mini-version " + mini + " is above --version " + request.version +
               ": every launcher would download the package at every start";
    if (std::string p = BaseUrlProblem(request.baseUrl); !p.empty()) return "--base-url " + p;
    if (request.entryUrl)
        if (std::string p = ValueProblem(*request.entryUrl); !p.empty()) return "--entry-url " + p;
    if (request.customParameters)
        if (std::string p = ValueProblem(*request.customParameters); !p.empty()) return "--custom-parameters " + p;
    return OutProblem(request.outDir);
}

bool PublishChannel(const PublishRequest& given, PublishSummary& summary, std::string& error)
{
    PublishRequest request = given;
    request.outDir = FolderPath(given.outDir);
    summary = PublishSummary{};
    error = PublishRequestProblem(request);
    if (!error.empty()) return false;
    // OUT inside the game folder would be packed into the next package, earlier packages and all.
    if (PathInside(request.outDir, request.gameDir)) {
        error = PathUtf8(request.outDir) + ": lies inside the game folder, whose every file goes into the package";
        return false;
    }

    std::vector<PackageEntry> entries;
    if (!ScanGameTree(request.gameDir, Utf8ToWide(request.gameCode), Utf8ToWide(request.channel), entries, error))
        return false;
    Count(entries, summary);

    StagingFolder staging;
    if (!staging.Create(request.outDir, error)) return false;

    const fs::path packing = staging.path() / "package.zip.part";
    const auto packProgress = [&](const PackProgress& figures) {
        if (request.progress) request.progress("packing", figures);
    };
    if (!WritePackage(entries, packing, packProgress, error)) return false;

    std::error_code ec;
    summary.packageBytes = fs::file_size(packing, ec);
    HashProgress hashing{&request, PackProgress{0, summary.packageBytes, entries.size(), entries.size()}};
    summary.sha256 = FileSha256(packing, request.progress ? &ReportHashing : nullptr, &hashing);
    if (ec || summary.sha256.empty()) {
        error = "cannot read back " + PathUtf8(packing);
        return false;
    }

    const std::string base = TrimmedBaseUrl(request.baseUrl);
    summary.packagePath = PackagePath(request.channel, request.gameCode, request.version, summary.sha256);
    summary.configPath = ConfigDocumentPath(request.channel);
    summary.packageUrl = base + "/" + summary.packagePath;
    summary.configUrl = base + "/" + summary.configPath;

    ChannelRelease release;
    release.version = request.version;
    release.miniVersion = request.miniVersion.empty() ? request.version : request.miniVersion;
    release.packageUrl = summary.packageUrl;
    release.entryUrl = request.entryUrl;
    release.customParameters = request.customParameters;
    release.packageSha256 = summary.sha256;
    release.packageSize = summary.packageBytes;
    std::string document = ChannelConfigDocument(release);
    if (request.amendDocument && !request.amendDocument(document, error)) return false;

    const fs::path stagedPackage = staging.path() / Utf8Path(summary.packagePath);
    const fs::path stagedConfig = staging.path() / Utf8Path(summary.configPath);
    if (!MoveInto(packing, stagedPackage, error) || !MakeParent(stagedConfig, error) ||
        !WriteFileBytes(stagedConfig, document, error))
        return false;

    // A new OUT appears whole in one rename. Into an existing one (a channel being served, with
    // earlier packages that launchers may still be fetching), the package goes first and the
    // document that names it last.
    if (!fs::exists(request.outDir, ec)) {
        if (!MoveInto(staging.path(), request.outDir, error)) return false;
        staging.Release();
        return true;
    }
    return MoveInto(stagedPackage, request.outDir / Utf8Path(summary.packagePath), error) &&
           MoveInto(stagedConfig, request.outDir / Utf8Path(summary.configPath), error);
}

}  // namespace core
