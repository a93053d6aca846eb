#include "diag/file_log.h"

#include <windows.h>

#include <atomic>
#include <ctime>

#include "core/diag/log_line.h"
#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "fw/app.h"
#include "fw/text.h"
#include "fw/win_handle.h"

namespace {

// At most this many characters of the time text and of the function name are kept.
constexpr std::size_t kMaxConvertedChars = 260;

std::wstring AnsiField(const std::string& bytes)
{
    std::wstring wide = fw::AnsiToWide(bytes);
    if (wide.size() > kMaxConvertedChars) wide.resize(kMaxConvertedChars);
    return wide;
}

}  // namespace

namespace {
// Plain atomics: they outlive every other static, so any thread may read them at exit.
std::atomic<bool> g_bShuttingDown{false};
std::atomic<unsigned long> g_nKeptThread{0};
}  // namespace

void CFileLog::KeepOnlyThisThread()
{
    g_nKeptThread.store(::GetCurrentThreadId());
    g_bShuttingDown.store(true);
}

bool CFileLog::ShutdownDropsThisThread()
{
    return g_bShuttingDown.load() && g_nKeptThread.load() != ::GetCurrentThreadId();
}

CFileLog& CFileLog::Instance()
{
    static CFileLog log;  // thread-safe one-time construction
    return log;
}

CFileLog::CFileLog() { Open(); }

void CFileLog::Open()
{
    const std::wstring appName = core::ApplicationNameFromModulePath(fw::ModuleFileName());
    std::wstring path = core::LogFilePath(GAME_CODE, DITCH_CODE, appName);
    if (path.size() >= MAX_PATH) return;  // the path must fit the system's 260-character limit
    // A launcher already runs when its single-instance mutex exists: emptying the file would
    // cut its log. Otherwise the file is emptied first. Either way the stream appends, so the
    // lines of two launchers follow each other instead of overwriting each other.
    fw::UniqueHandle running(::OpenMutexW(SYNCHRONIZE, FALSE, GAME_CODE));
    if (!running) {
        std::FILE* emptied = ::_wfopen(path.c_str(), L"w");
        if (!emptied) return;
        std::fclose(emptied);
    }
    // Text mode: every "\n" reaches the file as CR LF.
    m_pFile.reset(::_wfopen(path.c_str(), L"a"));
}

void CFileLog::OpenOnceFoldersExist()
{
    if (!m_pFile && !m_bClosed) Open();
}

void CFileLog::Write(const std::wstring& text, const char* function, int line, const std::wstring& level)
{
    if (!m_pFile) return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (const std::tm* t = std::localtime(&now)) local = *t;

    const std::wstring lineText = core::FormatLogLine(AnsiField(core::CtimeText(local)), level,
                                                      AnsiField(function ? function : ""), line, text);
    const std::string bytes = core::EncodeLogText(lineText);
    // One write per line: the runtime serialises writes on a stream, so lines of the GUI and
    // update threads never interleave. Each line is flushed, so a launcher that is killed or
    // crashes keeps every line it wrote (a launcher writes few lines; the flush costs nothing).
    std::fwrite(bytes.data(), 1, bytes.size(), m_pFile.get());
    std::fflush(m_pFile.get());
}

void CFileLog::Close()
{
    if (m_pFile) std::fflush(m_pFile.get());
    m_pFile.reset();
    m_bClosed = true;
}
