#include "core/publish/publish_files.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <vector>

#include "core/text/utf8_text.h"
#include "core/update/sha256.h"

namespace core {

namespace fs = std::filesystem;

std::FILE* OpenPathFile(const fs::path& path, const char* mode)
{
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

bool ModificationTime(const fs::path& path, std::int64_t& seconds)
{
#ifdef _WIN32
    struct _stat64 st {};
    if (_wstat64(path.c_str(), &st) != 0) return false;
#else
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
#endif
    seconds = static_cast<std::int64_t>(st.st_mtime);
    return true;
}

bool PathPartUtf8(const fs::path& part, std::string& utf8)
{
#ifdef _WIN32
    const std::wstring wide = part.wstring();
    utf8 = WideToUtf8(wide);
    return Utf8ToWide(utf8) == wide;
#else
    utf8 = part.string();
    return WideToUtf8(Utf8ToWide(utf8)) == utf8;
#endif
}

fs::path Utf8Path(const std::string& utf8)
{
#ifdef _WIN32
    return fs::path(Utf8ToWide(utf8));
#else
    return fs::path(utf8);
#endif
}

std::string PathUtf8(const fs::path& path)
{
#ifdef _WIN32
    return WideToUtf8(path.wstring());
#else
    return path.string();
#endif
}

bool PathInside(const fs::path& path, const fs::path& folder)
{
    // "game/" and "game" are one folder.
    const auto folderForm = [](fs::path p) {
        while (p.has_parent_path() && p.filename().empty()) p = p.parent_path();
        return p;
    };
    const auto below = [&](const fs::path& inner, const fs::path& outer) {
        const fs::path relative = folderForm(inner).lexically_relative(folderForm(outer));
        return !relative.empty() && *relative.begin() != "..";
    };
    std::error_code ec;
    const fs::path absolutePath = fs::absolute(path, ec).lexically_normal();
    const fs::path absoluteFolder = fs::absolute(folder, ec).lexically_normal();
    if (below(absolutePath, absoluteFolder)) return true;
    const fs::path realPath = fs::weakly_canonical(absolutePath, ec);
    if (ec) return false;
    const fs::path realFolder = fs::weakly_canonical(absoluteFolder, ec);
    return !ec && below(realPath, realFolder);
}

bool ReadFileBytes(const fs::path& path, std::string& bytes)
{
    StdioFile in(OpenPathFile(path, "rb"));
    if (!in) return false;
    bytes.clear();
    char block[64 * 1024];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, in.get())) > 0) bytes.append(block, got);
    return !std::ferror(in.get());
}

bool WriteFileBytes(const fs::path& path, const std::string& bytes, std::string& error)
{
    StdioFile out(OpenPathFile(path, "wb"));
    if (!out) {
        error = "cannot create " + PathUtf8(path);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
    if (std::fclose(out.release()) != 0 || !written) {
        error = "cannot write " + PathUtf8(path);
        return false;
    }
    return true;
}

std::string FileSha256(const fs::path& path, void (*progress)(void*, std::uint64_t), void* progressContext)
{
    StdioFile in(OpenPathFile(path, "rb"));
    if (!in) return "";
    Sha256 sha;
    std::vector<char> block(1024 * 1024);
    std::uint64_t done = 0;
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), in.get())) > 0) {
        sha.Update(block.data(), got);
        done += got;
        if (progress) progress(progressContext, done);
    }
    if (std::ferror(in.get())) return "";
    return sha.HexDigest();
}

}  // namespace core
