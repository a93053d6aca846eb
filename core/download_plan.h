// The pure decisions and figures of the package download.
#pragma once
#include <cstdint>
#include <string>

#include "core/pipeline_state.h"

namespace core {

// How a download goes on; the first matching row of the decision table wins.
enum class DownloadRow {
    FreshBelowMiniUpdate = 1,  // the recorded package is older than the mini-update version
    TryPackageOnDisk = 2,      // no open transfer: the package may be complete on disk
    Resume = 3,                // same version, open transfer: continue it
    FreshVersionChanged = 4,   // open transfer of another version: start over
};

DownloadRow DecideDownload(const LocalClientVersion& downloadVersion, const LocalClientVersion& miniUpdateVersion,
                           std::int64_t resumeFrom, std::int64_t downloadTotal,
                           const LocalClientVersion& remoteClientVersion);

// Where a resumed transfer really starts: the partial package's length on disk when it lies
// strictly between 0 and the total, else -1 (start over). The record alone is not trusted:
// a power loss, or a close before the first progress call, leaves it out of step with the file.
std::int64_t ResumeStartFromFile(std::int64_t fileLength, std::int64_t downloadTotal);

struct ProgressFigures {
    std::int64_t downloadOffset;
    std::int64_t downloadTotal;
    int percent;
    std::wstring detail;  // "45%"
};

// The figures of one progress call: the whole package counts, including what an earlier run
// fetched, so a transfer resumed at 600 of 1000 bytes starts at 60%.
ProgressFigures ComputeProgress(std::int64_t resumeFrom, std::int64_t totalToDownload, std::int64_t downloadedNow);

}  // namespace core
