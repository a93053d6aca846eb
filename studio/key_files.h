// The files of a channel's signing key: created new (an existing key is never overwritten),
// the secret one readable by its owner only.
#pragma once
#include <filesystem>
#include <string>

namespace studio {

// Creates path with the given bytes; fails when it exists. ownerOnly: on POSIX mode 0600, on
// Windows an access list that grants the current user alone. False with a message.
bool WriteNewKeyFile(const std::filesystem::path& path, const std::string& bytes, bool ownerOnly, std::string& error);

// The whole of a small file (a key file is a few lines; more than 64 KiB is refused).
bool ReadKeyFile(const std::filesystem::path& path, std::string& bytes, std::string& error);

}  // namespace studio
