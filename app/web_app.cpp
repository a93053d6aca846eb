#include "app/web_app.h"

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/crash_dump.h"
#include "browser/imp_idispatch.h"
#include "browser/web_browser_helper.h"
#include "core/app/command_line.h"
#include "core/app/game_process.h"
#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "diag/file_log.h"
#include "diag/web_logger.h"
#include "platform/window_message_handler.h"
#include "ui/web_dlg.h"
#include "update/game_remote_config.h"
#include "update/pipeline_globals.h"
#include "update/windows_update_host.h"

namespace {

// OLE is ended only by the start that began it.
bool g_bOleInitialized = false;

// How long the closing launcher waits for the package walk's workers: each looks at the stop
// before every 64 KiB block, so a disk that answers at all lets them end far sooner.
constexpr std::chrono::milliseconds kWalkStopWait{2000};

bool DirectoryExists(const std::wstring& path)
{
    const DWORD attrs = ::GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

// The running executable's directory, from a module path of at most 260 characters.
std::wstring ExecutableDirectory()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return core::DirectoryOfModulePath(path);
}

// Creates the install directory (one level) when needed, then the client directory.
// Returns 0 on success, else the system error code of the failed creation.
DWORD CreateDataDirectories(const std::wstring& installDir, const std::wstring& clientDir)
{
    if (DirectoryExists(clientDir)) return 0;
    if (!DirectoryExists(installDir) && !::CreateDirectoryW(installDir.c_str(), nullptr)) return ::GetLastError();
    if (!::CreateDirectoryW(clientDir.c_str(), nullptr)) return ::GetLastError();
    return 0;
}

std::wstring ProcessImagePath(DWORD pid, bool& known)
{
    known = false;
    fw::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return {};
    wchar_t path[MAX_PATH * 4] = {};
    DWORD size = sizeof path / sizeof path[0];
    if (!::QueryFullProcessImageNameW(process.get(), 0, path, &size)) return {};
    known = true;
    return std::wstring(path, size);
}

}  // namespace

UpdateSettings LauncherUpdateSettings(const std::wstring& installDir, const std::wstring& clientDir)
{
    UpdateSettings settings;
    settings.installDir = installDir;
    settings.clientDir = clientDir;
    settings.fileParam = [] {
        CWindowMessageHandler& handler = CWindowMessageHandler::Instance();
        if (handler.FileParam().empty()) handler.GetTaviUriFromCommandLine();
        return handler.FileParam();
    };
    settings.platformParam = &CWindowMessageHandler::GetTaviParamFromCommandLine;
    return settings;
}

CWebApp::CWebApp() { m_dwRestartManagerSupportFlags = fw::kRestartManagerSupportRestart; }

CWebApp::~CWebApp() = default;

IDispatch* CWebApp::PageExternal() const { return m_pDispatch; }

BOOL CWebApp::InitApplication()
{
    CWebBrowserHelper::FixBrowserVersion();
    WebLogger::Instance().LogEvent(kEventCreate);
    WebLogger::Instance().Log(L"launcher start");

    core::InstallDirInputs inputs;
    inputs.registryInstallPath =
        CGameRemoteConfig::QueryRegistryKey(HKEY_CURRENT_USER, core::UninstallKeyPath(GAME_CODE), L"InstallPath");
    inputs.executableDir = ExecutableDirectory();
    inputs.driveCExists = DirectoryExists(L"C:\\");
    inputs.driveDExists = DirectoryExists(L"D:\\");
    m_strInstallDir = core::SettleInstallDir(inputs, GAME_CODE, DITCH_CODE);
    m_strClientDir = core::ClientDir(m_strInstallDir);
    CGameRemoteConfig::Instance().Configure(LauncherUpdateSettings(m_strInstallDir, m_strClientDir));

    if (const DWORD error = CreateDataDirectories(m_strInstallDir, m_strClientDir)) {
        wchar_t message[128];
        std::swprintf(message, sizeof message / sizeof message[0], L"创建数据目录失败,错误id:%d",
                      static_cast<int>(error));
        WebLogger::Instance().Log(message);
        fw::AppMessageBox(message, MB_OK);
        return FALSE;
    }

    CFileLog::Instance().OpenOnceFoldersExist();
    g_strDumpPrefix = core::CrashDumpPrefix(m_strInstallDir, AppName());
    if (!g_pfnPrevFilter) {
        ::SetErrorMode(SEM_NOGPFAULTERRORBOX);
        LoadCrashDumpWriter();
        g_pfnPrevFilter = ::SetUnhandledExceptionFilter(CrashDumpFilter);
    }

    LOG_INFO("CWebApp::InitApplication", m_strInstallDir);
    LOG_INFO("CWebApp::InitApplication", m_strClientDir);
    return TRUE;
}

BOOL CWebApp::InitInstance()
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    fw::CWinApp::InitInstance();
    // The control container, shell manager and visual manager of the usual framework have no
    // counterpart here: our dialogs need none of them. OLE, not only COM: the browser control
    // needs it for the clipboard, drag and drop and in-place activation; it enters the
    // single-threaded apartment too.
    const HRESULT ole = ::OleInitialize(nullptr);
    g_bOleInitialized = SUCCEEDED(ole);
    if (FAILED(ole)) LOG_ERROR("CWebApp::InitInstance", L"OleInitialize failed, " + std::to_wstring(ole));
    m_pDispatch = new CImpIDispatch();
    m_pDispatch->AddRef();  // the application's own, until ExitInstance

    if (core::IsUninstallCommand(core::ArgumentsOfCommandLine(::GetCommandLineW()))) {
        UnInstall();
        m_hMutex.reset();
        std::exit(0);
    }

    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, GAME_CODE);
    const DWORD mutexError = ::GetLastError();
    m_hMutex.reset(mutex);
    if (mutexError == ERROR_ALREADY_EXISTS) EndBecauseAlreadyRunning();
    if (IsGameRunning()) EndBecauseAlreadyRunning();

    LOG_INFO("CWebApp::InitInstance", L"Laucher Start");

    {
        CWebDlg dlg;
        dlg.DoModal();
        SetMainWindow(nullptr);
    }
    return FALSE;
}

void CWebApp::EndBecauseAlreadyRunning()
{
    ::MessageBoxW(nullptr, L"游戏已启动", GAME_CODE, MB_OK | MB_ICONINFORMATION);
    std::exit(0);
}

int CWebApp::ExitInstance()
{
    // A package walk that is under way removes the files it was writing before the process
    // ends; a write the system holds up (a stalled network drive) does not keep it from ending.
    g_pipelineState.stop.Request();
    if (!g_pipelineState.stop.WaitForWalk(kWalkStopWait))
        LOG_ERROR("CWebApp::ExitInstance", L"the package walk did not stop in time; a file under way may stay");
    WindowsUpdateHost::StopLoggingAndReporting();
    // Before OLE ends; a browser that still holds the page's external object deletes it with
    // its own last release, whenever that comes.
    ReleaseApplicationExternal(m_pDispatch);
    if (g_bOleInitialized) ::OleUninitialize();
    g_bOleInitialized = false;
    ::SetErrorMode(0);
    ::SetUnhandledExceptionFilter(g_pfnPrevFilter);
    return fw::CWinApp::ExitInstance();
}

bool CWebApp::IsGameRunning()
{
    fw::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        LOG_ERROR("CWebApp::IsGameRunning", L"get snapshot error");
        return true;
    }
    const std::wstring gameExeName = core::GameExecutableName(GAME_CODE);
    const std::wstring gameExePath = core::GameExecutablePath(m_strClientDir, GAME_CODE);
    const DWORD self = ::GetCurrentProcessId();

    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = ::Process32FirstW(snapshot.get(), &entry); ok; ok = ::Process32NextW(snapshot.get(), &entry)) {
        core::ProcessEntry process;
        process.pid = entry.th32ProcessID;
        process.exeFileName = entry.szExeFile;
        // Only a process with the game's file name is worth opening.
        if (process.exeFileName == gameExeName && process.pid != self)
            process.imagePath = ProcessImagePath(process.pid, process.imagePathKnown);
        if (core::IsGameProcess(process, self, gameExeName, gameExePath)) return true;
    }
    return false;
}
