// Removing the game: started by the uninstall entry with "/uninstall", before any window.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/web_app.h"
#include "core/app/uninstall_commands.h"
#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "diag/file_log.h"
#include "diag/web_logger.h"
#include "fw/win_handle.h"

namespace {

void ShowInformation(const wchar_t* text) { ::MessageBoxW(nullptr, text, GAME_CODE, MB_OK | MB_ICONINFORMATION); }

// A removal that did not complete: logged and shown; the caller decides whether to go on.
void ReportFailure()
{
    LOG_ERROR("CWebApp::UnInstall", L"unistall error");
    ShowInformation(L"卸载失败,可能是因为游戏正在运行或文件夹被占用。");
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The command interpreter, hidden, not waited for: it outlives the launcher.
void StartDelayedRemoval(const std::wstring& directory)
{
    const std::wstring parameters = core::DelayedRemovalParameters(directory);
    ::ShellExecuteW(nullptr, L"open", L"cmd.exe", parameters.c_str(), nullptr, SW_HIDE);
}

}  // namespace

void CWebApp::UnInstall()
{
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, GAME_CODE);
    const DWORD mutexError = ::GetLastError();
    m_hMutex.reset(mutex);
    if (mutexError == ERROR_ALREADY_EXISTS || IsGameRunning()) {
        ShowInformation(L"游戏正在运行,请关闭游戏后重试");
        return;
    }
    if (fw::AppMessageBox(L"确定要卸载吗?", MB_YESNO | MB_ICONQUESTION) != IDYES) return;

    WebLogger::Instance().Log(L"game uninstall start");
    LOG_INFO("CWebApp::UnInstall", L"Begin uninstall");
    LOG_INFO("CWebApp::UnInstall", m_strClientDir);
    if (Exists(m_strClientDir) && !DeleteNotNullDir(m_strClientDir)) return ReportFailure();

    const std::wstring startMenu = core::StartMenuFolder(SpecialFolder(CSIDL_STARTMENU), DITCH_CODE);
    LOG_INFO("CWebApp::UnInstall", startMenu);
    if (Exists(startMenu) && !DeleteNotNullDir(startMenu)) return ReportFailure();

    const std::wstring shortcut = core::ShortcutFile(SpecialFolder(CSIDL_DESKTOPDIRECTORY), GAME_NAME);
    LOG_INFO("CWebApp::UnInstall", shortcut);
    if (Exists(shortcut) && !::DeleteFileW(shortcut.c_str())) ReportFailure();  // and go on

    CGameRemoteConfig::Instance().RemoveRegisties();
    LOG_INFO("CWebApp::UnInstall", L"unistall succ");
    // The log lives in the install directory, which the interpreters remove after we end.
    CFileLog::Instance().Close();

    StartDelayedRemoval(m_strInstallDir);
    StartDelayedRemoval(core::DefaultInstallDirForRemoval(GAME_CODE, DITCH_CODE));
    WebLogger::Instance().Log(L"game unintall success");
}

BOOL CWebApp::DeleteNotNullDir(const std::wstring& path)
{
    LOG_INFO("CWebApp::DeleteNotNullDir", path);
    WIN32_FIND_DATAW entry{};
    {
        fw::UniqueFind find(::FindFirstFileW((path + L"/*.*").c_str(), &entry));
        for (BOOL more = find ? TRUE : FALSE; more; more = ::FindNextFileW(find.get(), &entry)) {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = path + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A link to a folder elsewhere (junction, symbolic link) is removed as a link:
                // what it points to is not the game's to delete.
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) DeleteNotNullDir(full);
                ::RemoveDirectoryW(full.c_str());
            } else {
                ::DeleteFileW(full.c_str());
            }
        }
    }
    return ::RemoveDirectoryW(path.c_str());
}
