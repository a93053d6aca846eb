#include "core/patch/patch_manifest.h"

#include <charconv>
#include <limits>
#include <set>

#include "core/patch/content_chunker.h"

namespace core {
namespace {

constexpr std::string_view kHeader = "launcher-manifest 1";

std::vector<std::string_view> SplitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

// Decimal digits only (no sign, no blanks, no leading zeros but "0"), within max.
template <typename Number>
bool ParseNumber(std::string_view text, Number max, Number& value)
{
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value <= max;
}

bool IsDigest(std::string_view text)
{
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// What is wrong with a path of a folder (ending with "/") or a file; empty when nothing is.
std::string PathProblem(std::string_view path, bool folder)
{
    if (path.empty()) return "an empty path";
    if (folder != (path.back() == '/')) return folder ? "a folder path must end with \"/\"" : "a file path ends with \"/\"";
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7f || c == '\\') return "a path with a control character or a backslash";
    std::string_view rest = folder ? path.substr(0, path.size() - 1) : path;
    for (;;) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (part.empty() || part == "." || part == "..") return "a path with an empty, \".\" or \"..\" part";
        if (slash == std::string_view::npos) return "";
        rest.remove_prefix(slash + 1);
    }
}

// The folder a path lies in, as listed ("a/b/" for "a/b/c" and "a/b/c/"); empty at the top.
std::string_view ParentFolder(std::string_view path)
{
    const std::size_t end = path.size() > 1 ? path.find_last_of('/', path.size() - 2) : std::string_view::npos;
    return end == std::string_view::npos ? std::string_view() : path.substr(0, end + 1);
}

class Reader {
public:
    bool Read(std::string_view text, PatchManifest& manifest, std::string& error)
    {
        std::size_t number = 0;
        bool ended = false;
        while (!text.empty()) {
            ++number;
            const std::size_t newline = text.find('\n');
            if (newline == std::string_view::npos) return Fail(number, "the last line has no line end", error);
            const std::string_view line = text.substr(0, newline);
            text.remove_prefix(newline + 1);
            if (ended) return Fail(number, "a line after the end line", error);
            std::string problem = number == 1 ? (line == kHeader ? "" : "not a manifest (no \"launcher-manifest 1\" line)")
                                              : Record(SplitTabs(line), manifest, ended);
            if (!problem.empty()) return Fail(number, problem, error);
        }
        if (!ended) return Fail(number, "no end line (the manifest is cut short)", error);
        if (!m_open.empty()) return Fail(number, m_open, error);
        return true;
    }

private:
    std::string Record(const std::vector<std::string_view>& f, PatchManifest& manifest, bool& ended)
    {
        if (f[0] == "folder") {
            if (f.size() != 2) return "a folder line needs 1 field";
            if (!m_open.empty()) return m_open;
            if (std::string p = Placed(f[1], true); !p.empty()) return p;
            manifest.folders.emplace_back(f[1]);
            return "";
        }
        if (f[0] == "file") {
            if (f.size() != 5) return "a file line needs 4 fields";
            if (!m_open.empty()) return m_open;
            if (std::string p = Placed(f[1], false); !p.empty()) return p;
            ManifestFile file;
            file.path = std::string(f[1]);
            std::uint64_t modified = 0;
            if (!ParseNumber(f[2], std::numeric_limits<std::uint64_t>::max() / 2, file.size)) return "a file size that is not a number";
            if (!ParseNumber(f[3], std::uint64_t{std::numeric_limits<std::int64_t>::max()}, modified))
                return "a file time that is not a number";
            if (!IsDigest(f[4])) return "a file digest that is not 64 lower-case hex digits";
            file.modified = static_cast<std::int64_t>(modified);
            file.sha256 = std::string(f[4]);
            manifest.files.push_back(std::move(file));
            m_left = manifest.files.back().size;
            if (m_left) m_open = "the chunks of \"" + manifest.files.back().path + "\" do not add up to its size";
            return "";
        }
        if (f[0] == "chunk") {
            if (f.size() != 3) return "a chunk line needs 2 fields";
            if (manifest.files.empty() || m_open.empty()) return "a chunk beyond its file's size, or before any file";
            ManifestChunk chunk;
            if (!IsDigest(f[1])) return "a chunk digest that is not 64 lower-case hex digits";
            if (!ParseNumber(f[2], std::uint32_t(kChunkLimits.max), chunk.size) || chunk.size == 0)
                return "a chunk size that is not a number from 1 to " + std::to_string(kChunkLimits.max);
            if (chunk.size > m_left) return m_open;
            chunk.sha256 = std::string(f[1]);
            m_left -= chunk.size;
            if (!m_left) m_open.clear();
            manifest.files.back().chunks.push_back(std::move(chunk));
            ++m_chunks;
            return "";
        }
        if (f[0] == "end") {
            if (f.size() != 4) return "the end line needs 3 fields";
            if (!m_open.empty()) return m_open;
            std::uint64_t folders = 0, files = 0, chunks = 0;
            const std::uint64_t any = std::numeric_limits<std::uint64_t>::max();
            if (!ParseNumber(f[1], any, folders) || !ParseNumber(f[2], any, files) || !ParseNumber(f[3], any, chunks) ||
                folders != manifest.folders.size() || files != manifest.files.size() || chunks != m_chunks)
                return "the end line's counts do not match the manifest (lines lost or added)";
            ended = true;
            return "";
        }
        return "an unknown record \"" + std::string(f[0].substr(0, 32)) + "\"";
    }

    // A path may come once, after the folder it lies in.
    std::string Placed(std::string_view path, bool folder)
    {
        if (std::string p = PathProblem(path, folder); !p.empty()) return p;
        const std::string_view parent = ParentFolder(path);
        if (!parent.empty() && !m_folders.count(ManifestPathKey(parent)))
            return "\"" + std::string(path) + "\" comes before its folder";
        // Without the folder's "/": a file and a folder of one name are one name too many.
        if (!m_seen.insert(ManifestPathKey(folder ? path.substr(0, path.size() - 1) : path)).second)
            return "\"" + std::string(path) + "\" is listed twice";
        if (folder) m_folders.insert(ManifestPathKey(path));
        return "";
    }

    static bool Fail(std::size_t line, const std::string& problem, std::string& error)
    {
        error = "manifest line " + std::to_string(line) + ": " + problem;
        return false;
    }

    std::set<std::string> m_seen;     // folded paths of folders (without their "/") and files
    std::set<std::string> m_folders;  // folded folder paths
    std::string m_open;               // the problem while the last file's chunks are short of its size
    std::uint64_t m_left = 0;         // bytes of the last file that no chunk covers yet
    std::uint64_t m_chunks = 0;
};

}  // namespace

std::string ManifestPathKey(std::string_view path)
{
    std::string key(path);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

std::string WriteManifest(const PatchManifest& manifest)
{
    std::string text(kHeader);
    text += '\n';
    std::size_t chunks = 0;
    for (const std::string& folder : manifest.folders) text += "folder\t" + folder + "\n";
    for (const ManifestFile& file : manifest.files) {
        text += "file\t" + file.path + "\t" + std::to_string(file.size) + "\t" + std::to_string(file.modified) + "\t" +
                file.sha256 + "\n";
        for (const ManifestChunk& chunk : file.chunks) text += "chunk\t" + chunk.sha256 + "\t" + std::to_string(chunk.size) + "\n";
        chunks += file.chunks.size();
    }
    text += "end\t" + std::to_string(manifest.folders.size()) + "\t" + std::to_string(manifest.files.size()) + "\t" +
            std::to_string(chunks) + "\n";
    return text;
}

bool ReadManifest(std::string_view text, PatchManifest& manifest, std::string& error)
{
    manifest = PatchManifest();
    PatchManifest read;
    if (!Reader().Read(text, read, error)) return false;
    manifest = std::move(read);
    return true;
}

}  // namespace core
