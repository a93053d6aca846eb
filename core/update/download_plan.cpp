#include "core/update/download_plan.h"

namespace core {

DownloadRow DecideDownload(const LocalClientVersion& downloadVersion, const LocalClientVersion& miniUpdateVersion,
                           std::int64_t resumeFrom, std::int64_t downloadTotal,
                           const LocalClientVersion& remoteClientVersion)
{
    if (downloadVersion < miniUpdateVersion) return DownloadRow::FreshBelowMiniUpdate;
    if (resumeFrom <= 0 || resumeFrom >= downloadTotal) return DownloadRow::TryPackageOnDisk;
    if (downloadVersion == remoteClientVersion) return DownloadRow::Resume;
    return DownloadRow::FreshVersionChanged;
}

ResumeAction PlanResume(std::int64_t fileLength, std::int64_t downloadTotal)
{
    if (fileLength > 0 && fileLength < downloadTotal) return ResumeAction::ContinueAtFileLength;
    if (fileLength > 0 && fileLength == downloadTotal) return ResumeAction::UnpackComplete;
    return ResumeAction::StartOver;
}

bool ProgressFiguresFit(std::int64_t resumeFrom, std::int64_t totalToDownload, std::int64_t downloadedNow)
{
    if (resumeFrom < 0 || totalToDownload < 0 || downloadedNow < 0) return false;
    if (resumeFrom > kMaxPackageBytes) return false;
    const std::int64_t room = kMaxPackageBytes - resumeFrom;
    return totalToDownload <= room && downloadedNow <= room;
}

ProgressFigures ComputeProgress(std::int64_t resumeFrom, std::int64_t totalToDownload, std::int64_t downloadedNow)
{
    ProgressFigures f{resumeFrom + downloadedNow, resumeFrom + totalToDownload, 0, L"0%"};
    if (totalToDownload != 0 && f.downloadTotal != 0) {
        std::int64_t percent = f.downloadOffset * 100 / f.downloadTotal;
        if (percent > 100) percent = 100;
        f.percent = static_cast<int>(percent);
        f.detail = std::to_wstring(f.percent) + L"%";
    }
    return f;
}

}  // namespace core
