#include "studio/key_files.h"

#include <cstdio>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#endif

#include "core/publish/publish_files.h"

namespace studio {

namespace {

constexpr std::uintmax_t kMaxKeyFileBytes = 64 * 1024;

#ifdef _WIN32
struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};
struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// "D:P(A;;FA;;;<the current user>)": only the user who made the key may open it.
std::unique_ptr<void, LocalFreer> OwnerOnlyDescriptor()
{
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return nullptr;
    UniqueHandle token(rawToken);
    DWORD size = 0;
    GetTokenInformation(rawToken, TokenUser, nullptr, 0, &size);
    std::unique_ptr<unsigned char[]> info(new unsigned char[size ? size : 1]);
    if (!GetTokenInformation(rawToken, TokenUser, info.get(), size, &size)) return nullptr;
    wchar_t* sid = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(info.get())->User.Sid, &sid)) return nullptr;
    std::unique_ptr<void, LocalFreer> sidText(sid);
    const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return std::unique_ptr<void, LocalFreer>(descriptor);
}

}  // namespace

NewKeyFile::~NewKeyFile()
{
    if (!m_handle) return;
    if (!m_keep) {
        // Deleted through the handle: exactly the file this object created, whatever the path
        // names by now.
        FILE_DISPOSITION_INFO disposition{TRUE};
        SetFileInformationByHandle(m_handle, FileDispositionInfo, &disposition, sizeof disposition);
    }
    CloseHandle(m_handle);
}

bool NewKeyFile::Create(const std::filesystem::path& path, bool ownerOnly, std::string& error)
{
    std::unique_ptr<void, LocalFreer> descriptor;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    if (ownerOnly) {
        descriptor = OwnerOnlyDescriptor();
        if (!descriptor) {
            error = core::PathUtf8(path) + " cannot get an owner-only access list";
            return false;
        }
        attributes.lpSecurityDescriptor = descriptor.get();
    }
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_WRITE | DELETE, 0, ownerOnly ? &attributes : nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD why = GetLastError();
        error = core::PathUtf8(path) + (why == ERROR_FILE_EXISTS || why == ERROR_ALREADY_EXISTS
                                            ? " exists: a key is never overwritten"
                                            : " cannot be created");
        return false;
    }
    m_handle = file;
    m_path = path;
    return true;
}

bool NewKeyFile::Write(const std::string& bytes, std::string& error)
{
    DWORD written = 0;
    if (WriteFile(m_handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(m_handle))
        return true;
    error = core::PathUtf8(m_path) + " cannot be written";
    return false;
}
#else
}  // namespace

NewKeyFile::~NewKeyFile()
{
    if (m_fd < 0) return;
    // Unlinked by name, so only while the name still holds the file this object created.
    struct stat made {}, named {};
    if (!m_keep && ::fstat(m_fd, &made) == 0 && ::lstat(m_path.c_str(), &named) == 0 && made.st_dev == named.st_dev &&
        made.st_ino == named.st_ino)
        ::unlink(m_path.c_str());
    ::close(m_fd);
}

bool NewKeyFile::Create(const std::filesystem::path& path, bool ownerOnly, std::string& error)
{
    // The mode is given at creation, so the secret is never readable by others, not even for
    // a moment; the umask can only take permissions away. O_EXCL also fails on a link, even
    // one to nothing, rather than create the file it points to.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0644);
    if (fd < 0) {
        error = core::PathUtf8(path) + (errno == EEXIST ? std::string(" exists: a key is never overwritten")
                                                        : std::string(" cannot be created: ") + std::strerror(errno));
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

bool NewKeyFile::Write(const std::string& bytes, std::string& error)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done == bytes.size() && ::fsync(m_fd) == 0) return true;
    error = core::PathUtf8(m_path) + " cannot be written";
    return false;
}
#endif

bool ReadKeyFile(const std::filesystem::path& path, std::string& bytes, std::string& error)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxKeyFileBytes) {
        error = core::PathUtf8(path) + (ec ? " cannot be read" : " is too large for a key file");
        return false;
    }
    // Unbuffered, straight into a string sized once: no stream buffer or grown string leaves a
    // copy of a secret behind in freed memory.
    core::StdioFile in(core::OpenPathFile(path, "rb"));
    if (in) std::setvbuf(in.get(), nullptr, _IONBF, 0);
    bytes.assign(static_cast<std::size_t>(size), '\0');
    if (!in || std::fread(&bytes[0], 1, bytes.size(), in.get()) != bytes.size() || std::fgetc(in.get()) != EOF) {
        error = core::PathUtf8(path) + " cannot be read";
        return false;
    }
    return true;
}

}  // namespace studio
