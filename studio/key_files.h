// The files of a channel's signing key: created new (an existing key, or a link at its path, is
// never overwritten), the secret one readable by its owner only, and removed again only by the
// command that created it.
#pragma once
#include <filesystem>
#include <string>

namespace studio {

// A key file created new and kept open while it is written. Unless kept, it is removed when it
// goes out of scope, and only if the path still names the file it created: a failed keygen
// leaves no half pair and takes nothing of anyone else's.
class NewKeyFile {
public:
    NewKeyFile() = default;
    NewKeyFile(const NewKeyFile&) = delete;
    NewKeyFile& operator=(const NewKeyFile&) = delete;
    ~NewKeyFile();

    // Creates path; fails when anything is at it (a file, a folder, a link even to nothing).
    // ownerOnly: on POSIX mode 0600, on Windows an access list that grants the current user
    // alone. False with a message naming the path.
    bool Create(const std::filesystem::path& path, bool ownerOnly, std::string& error);
    // The whole content, flushed to the disk. False with a message.
    bool Write(const std::string& bytes, std::string& error);
    void Keep() { m_keep = true; }

private:
    std::filesystem::path m_path;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
    bool m_keep = false;
};

// The whole of a small file (a key file is a few lines; more than 64 KiB is refused), read
// without a copy in a stream's buffer, so the caller can wipe the one copy of a secret.
bool ReadKeyFile(const std::filesystem::path& path, std::string& bytes, std::string& error);

}  // namespace studio
