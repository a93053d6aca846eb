// "scripts/channel serve OUT --port N [--limit-rate R] [--logs DIR]": nginx in the foreground on
// 127.0.0.1:N serving a published channel folder, each connection at most R bytes a second
// when given (a slow network, for trying a launcher's progress and resume). The configuration,
// pid and temporary folders live in a run folder of our own, removed when nginx stops; the logs
// go to DIR, by default OUT-logs beside OUT. SIGINT or SIGTERM stops nginx and then this command.
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
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

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

// The run folder, removed with everything nginx left in it.
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

// The folder served, held open from the start: nginx's root is this descriptor as
// /proc/self/fd/N, which nginx and its workers inherit. The workers reach OUT through it
// whatever the folders above OUT allow (a studio's home, a private temporary folder), so
// workers that are not root still read OUT, and only what OUT itself lets others read.
class ServedFolder {
public:
    ~ServedFolder()
    {
        if (m_fd >= 0) close(m_fd);
    }
    bool Open(const fs::path& out, std::string& error)
    {
        m_fd = open(out.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (m_fd >= 0) return true;
        error = core::PathUtf8(out) + ": " + std::strerror(errno);
        return false;
    }
    int fd() const { return m_fd; }
    std::string Root() const { return "/proc/self/fd/" + std::to_string(m_fd); }
    // In the child that becomes nginx: the descriptor survives exec.
    bool Inherit() const { return fcntl(m_fd, F_SETFD, 0) == 0; }

private:
    int m_fd = -1;
};

// The account nginx's workers take when serve is started by root: "nobody", which owns no file
// and so can change none, and reads only what OUT lets anyone read.
struct WorkerAccount {
    std::string user, group;
    uid_t uid = 0;
    gid_t gid = 0;

    bool Find(std::string& error)
    {
        const passwd* account = getpwnam("nobody");
        const struct group* primary = account ? getgrgid(account->pw_gid) : nullptr;
        if (!account || !primary || account->pw_uid == 0 || account->pw_gid == 0) {
            error = "started as root, nginx's workers run as the account nobody, which this system lacks";
            return false;
        }
        user = account->pw_name;
        group = primary->gr_name;
        uid = account->pw_uid;
        gid = account->pw_gid;
        return true;
    }
};

// The channel's files in OUT as it is now (documents and packages; links are never served).
std::vector<std::string> ChannelFiles(const fs::path& out)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const char* top : {"api", "packages"}) {
        for (fs::recursive_directory_iterator it(out / top, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec) && !it->is_symlink(ec))
                files.push_back(fs::relative(it->path(), out, ec).string());
    }
    return files;
}

// Whether the worker account can read OUT's channel files, tried in a child that takes the
// account and reaches OUT as the workers will: a folder or file they cannot read is named now
// rather than answered 404 to every launcher.
bool WorkerReads(const ServedFolder& site, const WorkerAccount& worker, const fs::path& out, std::string& error)
{
    const std::vector<std::string> files = ChannelFiles(out);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = "cannot check what nginx's workers can read";
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        // What failed: a file below OUT, or OUT itself ("/"), then why.
        std::string failed;
        if (fchdir(site.fd()) != 0 || setgroups(0, nullptr) != 0 || setgid(worker.gid) != 0 ||
            setuid(worker.uid) != 0 || access(".", X_OK) != 0) {
            failed = std::string("/") + '\0' + std::strerror(errno);
        } else {
            for (const std::string& file : files) {
                const int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
                if (fd < 0) {
                    failed = file + '\0' + std::strerror(errno);
                    break;
                }
                close(fd);
            }
        }
        if (!failed.empty() && write(report[1], failed.data(), failed.size()) < 0) _exit(2);
        _exit(failed.empty() ? 0 : 1);
    }
    close(report[1]);
    if (child < 0) {
        close(report[0]);
        error = "cannot check what nginx's workers can read";
        return false;
    }
    std::string failed;
    char block[512];
    for (ssize_t n; (n = read(report[0], block, sizeof block)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        failed.append(block, static_cast<std::size_t>(n));
    }
    close(report[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    const std::size_t split = failed.find('\0');
    const std::string file = failed.substr(0, split);
    error = "nginx's workers run as " + worker.user + " (never as root), who cannot read " +
            core::PathUtf8(file.empty() || file == "/" ? out : out / file) +
            (split == std::string::npos ? std::string() : " (" + failed.substr(split + 1) + ")") +
            ": let others read the channel (chmod -R o+rX " + core::PathUtf8(out) + ")";
    return false;
}

// OUT-logs beside OUT, unless --logs names a folder; never inside OUT, whose every file a
// server or CDN may be given.
bool ChooseLogFolder(const fs::path& out, const std::optional<std::string>& option, fs::path& logs,
                     std::string& error)
{
    std::error_code ec;
    fs::path folder = fs::absolute(out, ec).lexically_normal();
    while (folder.has_parent_path() && folder.filename().empty()) folder = folder.parent_path();
    if (option) {
        logs = fs::absolute(core::Utf8Path(*option), ec).lexically_normal();
    } else if (folder.has_filename()) {
        logs = folder.parent_path() / (folder.filename().string() + "-logs");
    } else {
        error = "--logs is needed to serve " + core::PathUtf8(folder);
        return false;
    }
    if (core::PathInside(logs, out)) {
        error = "--logs " + core::PathUtf8(logs) + " lies inside " + core::PathUtf8(out) +
                ", which is served: the logs hold players' addresses and ids";
        return false;
    }
    // Owner-only when made here: what players send is nobody else's to read.
    fs::create_directories(logs.parent_path(), ec);
    if (mkdir(logs.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + core::PathUtf8(logs) + ": " + std::strerror(errno);
        return false;
    }
    if (!fs::is_directory(logs, ec)) {
        error = core::PathUtf8(logs) + " is not a folder";
        return false;
    }
    return true;
}

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

// Runs nginx until it ends or a stop signal arrives; the signals are blocked in this process
// and taken with sigtimedwait, so none is lost between starting nginx and waiting for it.
int Supervise(pid_t nginx, const sigset_t& signals, int port, const std::string& out, const std::string& logs)
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
                      << ", logs in " << logs << "); Ctrl+C stops it" << std::endl;
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
    if (!ParseCommandArgs(words, {"port", "limit-rate", "logs"}, args, error) || args.positional.size() != 1 ||
        !args.Option("port")) {
        PrintError("serve: " + (error.empty() ? "usage: serve OUT --port N [--limit-rate R] [--logs DIR]" : error));
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

    ServedFolder site;
    WorkerAccount worker;
    const bool asRoot = geteuid() == 0;
    fs::path logs;
    RunFolder run;
    if (!site.Open(out, error) || (asRoot && (!worker.Find(error) || !WorkerReads(site, worker, out, error))) ||
        !ChooseLogFolder(out, args.Option("logs"), logs, error) || !run.Create(error)) {
        PrintError("serve: " + error);
        return kExitFailed;
    }
    for (const std::string& path : {run.path(), core::PathUtf8(logs)})
        if (const std::string problem = NginxPathProblem(path); !problem.empty()) {
            PrintError("serve: " + problem);
            return kExitFailed;
        }
    const NginxSite config{run.path(), site.Root(), core::PathUtf8(logs), port, worker.user, worker.group, limitRate};
    const std::string conf = run.path() + "/nginx.conf";
    if (!core::WriteFileBytes(conf, NginxConfig(config), error)) {
        PrintError("serve: " + error);
        return kExitFailed;
    }

    sigset_t signals, previous;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&signals, s);
    sigprocmask(SIG_BLOCK, &signals, &previous);

    const pid_t nginx = fork();
    if (nginx == 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive this command, even if it is killed
        if (site.Inherit())
            execl(NginxProgram(), "nginx", "-e", "stderr", "-p", run.path().c_str(), "-c", conf.c_str(),
                  static_cast<char*>(nullptr));
        std::cerr << "channel: serve: cannot start " << NginxProgram() << ": " << std::strerror(errno) << std::endl;
        _exit(127);
    }
    if (nginx < 0) {
        PrintError("serve: cannot start nginx");
        return kExitFailed;
    }
    const int code = Supervise(nginx, signals, port, args.positional[0], core::PathUtf8(logs));
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return code;
}

}  // namespace studio

#endif
