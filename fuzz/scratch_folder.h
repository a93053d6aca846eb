// A folder of the fuzz process's own below the temporary directory (scripts/fuzz.sh points
// TMPDIR into the build tree), removed with everything in it when the process ends normally.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "fuzz/fuzz_check.h"

namespace fuzz {

class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "launcher-fuzz-XXXXXX").string();
        FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
        m_path = pattern;
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

}  // namespace fuzz
