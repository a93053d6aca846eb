// "scripts/channel serve OUT --port N [--limit-rate R]": nginx in the foreground on
// 127.0.0.1:N serving a published channel folder, each connection at most R bytes a second
// when given (a slow network, for trying a launcher's progress and resume). The configuration, pid and temporary folders live in a run folder
// of our own, removed when nginx stops; SIGINT or SIGTERM stops nginx and then this command.
#include "studio/channel_commands.h"
#include "studio/command_args.h"

#ifdef _WIN32

namespace studio {

int RunServe(const CommandWords&)
{
    PrintError("serve: runs on Linux with Debian's nginx; on Windows serve the folder with any static web server");
    return kExitFailed;
}

}  // namespace studio

#else

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "core/publish/publish_files.h"
#include "studio/nginx_config.h"

namespace studio {

namespace {

namespace fs = std::filesystem;

const char* NginxProgram()
{
    const char* configured = std::getenv("CHANNEL_NGINX");
    return configured && *configured ? configured : "/usr/sbin/nginx";
}

// The run folder, removed with everything nginx left in it (the link to OUT is removed, never
// followed).
class RunFolder {
public:
    bool Create(std::string& error)
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/channel-serve-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            error = "cannot create a run folder in " + pattern.substr(0, pattern.rfind('/'));
            return false;
        }
        m_path = pattern;
        return true;
    }
    ~RunFolder()
    {
        std::error_code ec;
        if (!m_path.empty()) fs::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

bool PortAnswers(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool answered = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return answered;
}

bool PrepareSite(const fs::path& out, const RunFolder& run, int port, const std::string& limitRate,
                 std::string& error)
{
    std::error_code ec;
    const fs::path site = fs::path(run.path()) / "site";
    fs::create_directories(out / "logs", ec);
    if (ec) {
        error = "cannot create " + core::PathUtf8(out / "logs") + ": " + ec.message();
        return false;
    }
    fs::create_directory_symlink(fs::absolute(out), site, ec);
    if (ec) {
        error = "cannot link " + site.string() + ": " + ec.message();
        return false;
    }
    NginxSite config{run.path(), site.string(), port, geteuid() == 0, limitRate};
    if (const std::string problem = NginxPathProblem(run.path()); !problem.empty()) {
        error = "run folder " + problem;
        return false;
    }
    return core::WriteFileBytes(fs::path(run.path()) / "nginx.conf", NginxConfig(config), error);
}

// Runs nginx until it ends or a stop signal arrives; the signals are blocked in this process
// and taken with sigtimedwait, so none is lost between starting nginx and waiting for it.
int Supervise(pid_t nginx, const sigset_t& signals, int port, const std::string& out)
{
    bool announced = false, stopping = false;
    const auto started = std::time(nullptr);
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(nginx, &status, WNOHANG);
        if (ended == nginx) {
            if (stopping) return 0;
            PrintError("serve: nginx ended (" +
                       (WIFEXITED(status) ? "exit code " + std::to_string(WEXITSTATUS(status))
                                          : "signal " + std::to_string(WTERMSIG(status))) +
                       ")");
            return kExitFailed;
        }
        if (!announced && !stopping && PortAnswers(port)) {
            announced = true;
            std::cout << "serving " << out << " on http://127.0.0.1:" << port << "/ (nginx " << nginx
                      << "); Ctrl+C stops it" << std::endl;
        }
        if (!announced && !stopping && std::time(nullptr) - started > 30) {
            PrintError("serve: nginx does not answer on port " + std::to_string(port));
            kill(nginx, SIGTERM);
            stopping = true;
        }
        const timespec wait{0, 100 * 1000 * 1000};
        siginfo_t info{};
        const int got = sigtimedwait(&signals, &info, &wait);
        if (got == SIGINT || got == SIGTERM || got == SIGHUP) {
            stopping = true;
            kill(nginx, SIGTERM);  // nginx's fast shutdown: open transfers end now
        }
    }
}

}  // namespace

int RunServe(const CommandWords& words)
{
    CommandArgs args;
    std::string error;
    if (!ParseCommandArgs(words, {"port", "limit-rate"}, args, error) || args.positional.size() != 1 || !args.Option("port")) {
        PrintError("serve: " + (error.empty() ? "usage: serve OUT --port N [--limit-rate R]" : error));
        return kExitUsage;
    }
    const std::string portText = *args.Option("port");
    const int port = portText.find_first_not_of("0123456789") == std::string::npos && portText.size() <= 5
                         ? std::atoi(portText.c_str())
                         : 0;
    if (port < 1 || port > 65535) {
        PrintError("serve: --port " + portText + " is not a port number");
        return kExitUsage;
    }
    const std::string limitRate = args.OptionOr("limit-rate", "");
    if (!limitRate.empty() && !NginxRateProblem(limitRate).empty()) {
        PrintError("serve: --limit-rate " + NginxRateProblem(limitRate));
        return kExitUsage;
    }
    const fs::path out = core::Utf8Path(args.positional[0]);
    std::error_code ec;
    if (!fs::is_directory(out, ec)) {
        PrintError("serve: " + args.positional[0] + ": not a folder");
        return kExitFailed;
    }
    if (PortAnswers(port)) {
        PrintError("serve: something already answers on 127.0.0.1:" + portText);
        return kExitFailed;
    }

    RunFolder run;
    if (!run.Create(error) || !PrepareSite(out, run, port, limitRate, error)) {
        PrintError("serve: " + error);
        return kExitFailed;
    }

    sigset_t signals, previous;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&signals, s);
    sigprocmask(SIG_BLOCK, &signals, &previous);

    const std::string conf = run.path() + "/nginx.conf";
    const pid_t nginx = fork();
    if (nginx == 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive this command, even if it is killed
        execl(NginxProgram(), "nginx", "-e", "stderr", "-p", run.path().c_str(), "-c", conf.c_str(),
              static_cast<char*>(nullptr));
        std::cerr << "channel: serve: cannot start " << NginxProgram() << ": " << std::strerror(errno) << std::endl;
        _exit(127);
    }
    if (nginx < 0) {
        PrintError("serve: cannot start nginx");
        return kExitFailed;
    }
    const int code = Supervise(nginx, signals, port, args.positional[0]);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return code;
}

}  // namespace studio

#endif
