#include "studio/key_files.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#else
#include <fcntl.h>
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

bool CreateAndWrite(const std::filesystem::path& path, const std::string& bytes, bool ownerOnly, std::string& error)
{
    std::unique_ptr<void, LocalFreer> descriptor;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    if (ownerOnly) {
        descriptor = OwnerOnlyDescriptor();
        if (!descriptor) {
            error = "cannot make an owner-only access list";
            return false;
        }
        attributes.lpSecurityDescriptor = descriptor.get();
    }
    UniqueHandle file(CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, ownerOnly ? &attributes : nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        error = GetLastError() == ERROR_FILE_EXISTS ? "exists: a key is never overwritten" : "cannot be created";
        return false;
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.get())) {
        error = "cannot be written";
        return false;
    }
    return true;
}
#else
bool CreateAndWrite(const std::filesystem::path& path, const std::string& bytes, bool ownerOnly, std::string& error)
{
    // The mode is given at creation, so the secret is never readable by others, not even for
    // a moment; the umask can only take permissions away.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0644);
    if (fd < 0) {
        error = errno == EEXIST ? "exists: a key is never overwritten" : std::string("cannot be created: ") + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = done == bytes.size() && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok) {
        error = "cannot be written";
        return false;
    }
    return true;
}
#endif

}  // namespace

bool WriteNewKeyFile(const std::filesystem::path& path, const std::string& bytes, bool ownerOnly, std::string& error)
{
    std::string why;
    if (CreateAndWrite(path, bytes, ownerOnly, why)) return true;
    error = core::PathUtf8(path) + " " + why;
    return false;
}

bool ReadKeyFile(const std::filesystem::path& path, std::string& bytes, std::string& error)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxKeyFileBytes) {
        error = core::PathUtf8(path) + (ec ? " cannot be read" : " is too large for a key file");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (!in.good() && !in.eof()) {
        error = core::PathUtf8(path) + " cannot be read";
        return false;
    }
    return true;
}

}  // namespace studio
