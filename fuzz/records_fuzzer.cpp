// The two small records the update driver reads at its start, written from the input into a
// client and install folder of this process: the version record "game_client_version.txt"
// and the resume record "tempdownload.dat". The input is the version record's text, a
// backslash and one more character, then the resume record's bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/update/client_version.h"
#include "core/update/posix_update_host.h"
#include "core/update/resume_record.h"
#include "core/update/version_record.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_folder.h"
#include "tests/support/pipeline_restart.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kVersionRecordBytes = 256;
// The version record's first line as a text-mode read of 64 bytes gives it.
constexpr std::size_t kFirstLineChars = 63;

struct Folders {
    fuzz::ScratchFolder scratch;
    fs::path install = scratch.Path() / "install";
    fs::path client = install / "client";
    Folders() { fs::create_directories(client); }
};

void Put(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ExpectedFirstLine(const std::string& record)
{
    std::string line = record.substr(0, kFirstLineChars);
    const std::size_t lf = line.find('\n');
    if (lf != std::string::npos) line.resize(lf + 1);
    return line.substr(0, line.find('\0'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Folders folders;
    FuzzedDataProvider in(data, size);
    const std::string versionRecord = in.ConsumeRandomLengthString(kVersionRecordBytes);
    const std::string resumeRecord = in.ConsumeRemainingBytesAsString();
    Put(folders.client / "game_client_version.txt", versionRecord);
    Put(folders.install / "tempdownload.dat", resumeRecord);

    core::PosixUpdateHost host;
    core::PipelineState state;
    core::UpdateContext ctx{host, state, nullptr,
                            core::PipelinePaths{folders.install.wstring(), folders.client.wstring(), L"qorn", L"palmet", L"qorn"}};

    core::ReadLocalClientVersion(ctx);
    FUZZ_CHECK(state.freshInstall == 0);
    FUZZ_CHECK(state.localClientVersion == core::ParseClientVersion(host.FromAnsi(ExpectedFirstLine(versionRecord))));

    testsupport::StartAgain(ctx);
    FUZZ_CHECK(state.downloadOffset.load() == state.resumeFrom.load());
    const core::LocalClientVersion version = state.downloadVersion;
    const std::int64_t offset = state.downloadOffset;
    const std::int64_t total = state.downloadTotal;
    const std::string validator = state.packageValidator.Get();

    // What the launcher writes at close reads back as the same values at the next start; a
    // validator that cannot be kept in a record line is dropped.
    testsupport::CloseAndRestart(ctx);
    FUZZ_CHECK(state.downloadVersion == version);
    FUZZ_CHECK(state.downloadOffset.load() == offset && state.resumeFrom.load() == offset);
    FUZZ_CHECK(state.downloadTotal.load() == total);
    FUZZ_CHECK(state.packageValidator.Get() == (core::ValidatorFitsRecord(validator) ? validator : std::string()));
    return 0;
}
