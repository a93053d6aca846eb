#include "core/publish/package_tree.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <system_error>

#include "core/publish/publish_files.h"
#include "core/text/utf8_text.h"
#include "core/update/archive_entry.h"

namespace core {

namespace fs = std::filesystem;

namespace {

// Characters a Windows file name cannot hold (":" and the slashes are the walk's own checks).
bool IsForbiddenOnWindows(wchar_t c) { return c < 0x20 || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' || c == L'*'; }

std::string Describe(wchar_t c)
{
    if (c < 0x20) return "control character " + std::to_string(static_cast<int>(c));
    return std::string("character \"") + static_cast<char>(c) + "\"";
}

// Windows drops a trailing dot or blank from a path part, so "a." would become "a".
bool EndsBadlyOnWindows(const std::wstring& part) { return !part.empty() && (part.back() == L'.' || part.back() == L' '); }

std::wstring FoldCase(const std::wstring& text)
{
    std::wstring folded = text;
    for (auto& c : folded) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    return folded;
}

struct Child {
    std::string utf8;
    fs::path path;
};

class TreeScanner {
public:
    TreeScanner(const std::wstring& gameCode, const std::wstring& channel, std::vector<PackageEntry>& entries,
                std::string& error)
        : m_clientDir(PlayerClientDir(gameCode, channel)), m_entries(entries), m_error(error)
    {
    }

    bool AddFolder(const fs::path& folder, const std::string& name)
    {
        if (!Accept(name)) return false;
        PackageEntry entry{name, true, 0, 0, folder};
        if (!ModificationTime(folder, entry.modified)) return Fail(name, "cannot be examined");
        m_entries.push_back(entry);

        std::vector<Child> children;
        if (!ListChildren(folder, name, children)) return false;
        std::map<std::wstring, std::string> folded;
        for (const Child& child : children) {
            const auto [it, fresh] = folded.emplace(FoldCase(Utf8ToWide(child.utf8)), child.utf8);
            if (!fresh)
                return Fail(name + child.utf8, "is the same file on Windows as " + name + it->second +
                                                   " (names differ only in letter case)");
        }
        for (const Child& child : children)
            if (!AddChild(child, name)) return false;
        return true;
    }

private:
    bool ListChildren(const fs::path& folder, const std::string& name, std::vector<Child>& children)
    {
        std::error_code ec;
        fs::directory_iterator it(folder, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            Child child{"", it->path()};
            if (!PathPartUtf8(it->path().filename(), child.utf8))
                return Fail(name + PathUtf8(it->path().filename()), "has a name that is not UTF-8 text");
            children.push_back(child);
        }
        if (ec) return Fail(name, "cannot be read: " + ec.message());
        std::sort(children.begin(), children.end(), [](const Child& a, const Child& b) { return a.utf8 < b.utf8; });
        return true;
    }

    bool AddChild(const Child& child, const std::string& parent)
    {
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(child.path, ec);
        if (ec) return Fail(parent + child.utf8, "cannot be examined: " + ec.message());
        if (fs::is_directory(status)) return AddFolder(child.path, parent + child.utf8 + "/");
        const std::string name = parent + child.utf8;
        if (fs::is_symlink(status)) return Fail(name, "is a symbolic link; put the file itself in the tree");
        if (!fs::is_regular_file(status)) return Fail(name, "is neither a file nor a folder");
        if (!Accept(name)) return false;
        PackageEntry entry{name, false, 0, 0, child.path};
        entry.size = fs::file_size(child.path, ec);
        if (ec || !ModificationTime(child.path, entry.modified)) return Fail(name, "cannot be examined");
        m_entries.push_back(entry);
        return true;
    }

    bool Accept(const std::string& name)
    {
        const std::string problem = EntryNameProblem(name, m_clientDir);
        return problem.empty() || Fail(name, problem);
    }

    bool Fail(const std::string& name, const std::string& why)
    {
        m_error = name + ": " + why;
        return false;
    }

    std::wstring m_clientDir;
    std::vector<PackageEntry>& m_entries;
    std::string& m_error;
};

}  // namespace

std::wstring PlayerClientDir(const std::wstring& gameCode, const std::wstring& channel)
{
    return L"C:\\" + gameCode + L"-" + channel + L"\\client";
}

std::string EntryNameProblem(const std::string& name, const std::wstring& clientDir)
{
    const std::wstring wide = Utf8ToWide(name);
    if (WideToUtf8(wide) != name) return "the name is not UTF-8 text";
    if (!EntryNameFits(name.size()))
        return "the name has " + std::to_string(name.size()) + " bytes; the launcher takes names below " +
               std::to_string(kEntryNameBufferBytes);
    const EntryNameVerdict verdict = CheckEntryName(wide);
    if (verdict != EntryNameVerdict::Accepted)
        return "the launcher refuses this name (" + WideToUtf8(DescribeEntryNameVerdict(verdict)) + ")";

    const std::wstring relative = IsDirectoryEntryName(wide) ? wide.substr(0, wide.size() - 1) : wide;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = relative.find(L'/', start);
        const std::wstring part = relative.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        for (wchar_t c : part) {
            if (IsForbiddenOnWindows(c)) return "a Windows file name cannot hold the " + Describe(c);
            if (c == L'\\') return "a \"\\\" separates folders on Windows";
        }
        if (EndsBadlyOnWindows(part)) return "Windows drops the dot or blank at the end of \"" + WideToUtf8(part) + "\"";
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    const std::wstring target = clientDir + L"\\" + wide;
    if (!TargetPathFits(target))
        return "the path on the player's machine (" + WideToUtf8(target) + ") has " + std::to_string(target.size()) +
               " characters; the launcher takes paths below " + std::to_string(kTargetPathBufferChars);
    return "";
}

bool ScanGameTree(const fs::path& gameDir, const std::wstring& gameCode, const std::wstring& channel,
                  std::vector<PackageEntry>& entries, std::string& error)
{
    entries.clear();
    std::error_code ec;
    if (!fs::is_directory(gameDir, ec)) {
        error = PathUtf8(gameDir) + ": not a folder";
        return false;
    }
    const std::string code = WideToUtf8(gameCode);
    TreeScanner scanner(gameCode, channel, entries, error);
    if (!scanner.AddFolder(gameDir, code + "/")) return false;

    const std::string executable = code + "/" + code + ".exe";
    const bool hasExecutable = std::any_of(entries.begin(), entries.end(), [&](const PackageEntry& e) {
        return !e.directory && e.name == executable;
    });
    if (!hasExecutable) {
        error = PathUtf8(gameDir) + ": no " + code + ".exe at the top of the game folder (the launcher starts " +
                executable + ")";
        return false;
    }
    return true;
}

}  // namespace core
