// The pure decisions and figures of the package download.
#pragma once
#include <cstdint>
#include <string>

#include "core/update/pipeline_state.h"

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

// What a resume does with the partial package on disk. The record alone is not trusted: a
// power loss, or a close before the first progress call, leaves it out of step with the file.
enum class ResumeAction {
    ContinueAtFileLength,  // the length lies strictly between 0 and the total
    UnpackComplete,        // the file already holds the whole package: unpack it
    StartOver,             // no file, an empty one, or one longer than the package
};
ResumeAction PlanResume(std::int64_t fileLength, std::int64_t downloadTotal);

// The largest package the progress figures can carry: its percent is computed as offset * 100
// in signed 64 bits. A length beyond it (only a hostile answer states one) fails the transfer.
constexpr std::int64_t kMaxPackageBytes = INT64_MAX / 100;
// Whether one progress call's figures stay within kMaxPackageBytes (and are not negative).
bool ProgressFiguresFit(std::int64_t resumeFrom, std::int64_t totalToDownload, std::int64_t downloadedNow);

struct ProgressFigures {
    std::int64_t downloadOffset;
    std::int64_t downloadTotal;
    int percent;
    std::wstring detail;  // "45%"
};

// The figures of one progress call: the whole package counts, including what an earlier run
// fetched, so a transfer resumed at 600 of 1000 bytes starts at 60%. Only for figures that
// ProgressFiguresFit.
ProgressFigures ComputeProgress(std::int64_t resumeFrom, std::int64_t totalToDownload, std::int64_t downloadedNow);

}  // namespace core
