#include "core/app/game_process.h"

#include <cwctype>

namespace core {

namespace {

wchar_t FoldPathChar(wchar_t c)
{
    if (c == L'/') return L'\\';
    return static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
}

}  // namespace

bool SameWindowsPath(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldPathChar(a[i]) != FoldPathChar(b[i])) return false;
    return true;
}

bool IsGameProcess(const ProcessEntry& entry, std::uint32_t selfPid, const std::wstring& gameExeName,
                   const std::wstring& gameExePath)
{
    if (entry.pid == selfPid || entry.exeFileName != gameExeName) return false;
    if (!entry.imagePathKnown) return true;
    return SameWindowsPath(entry.imagePath, gameExePath);
}

}  // namespace core
