#include "core/update/download_plan.h"

#include <gtest/gtest.h>

#include "tests/unit/version_literal.h"

namespace {

using core::DownloadRow;
using core::LocalClientVersion;

using testing_support::V;

struct PlanCase {
    const char* what;
    LocalClientVersion download, mini;
    std::int64_t resumeFrom, total;
    LocalClientVersion remote;
    DownloadRow row;
};

class DownloadDecision : public ::testing::TestWithParam<PlanCase> {};

TEST_P(DownloadDecision, FirstMatchingRowWins)
{
    const auto& p = GetParam();
    EXPECT_EQ(core::DecideDownload(p.download, p.mini, p.resumeFrom, p.total, p.remote), p.row) << p.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DownloadDecision,
    ::testing::Values(
        PlanCase{"first install", V(0, 0, 0, 0), V(1, 0, 0, 0), 0, 0, V(1, 0, 3, 7), DownloadRow::FreshBelowMiniUpdate},
        PlanCase{"old partial below mini", V(0, 9, 0, 0), V(1, 0, 0, 0), 600, 1000, V(1, 0, 3, 7),
                 DownloadRow::FreshBelowMiniUpdate},
        PlanCase{"no mini, no record", V(0, 0, 0, 0), V(0, 0, 0, 0), 0, 0, V(1, 0, 3, 7), DownloadRow::TryPackageOnDisk},
        PlanCase{"complete on disk", V(1, 0, 3, 7), V(1, 0, 0, 0), 1000, 1000, V(1, 0, 3, 7),
                 DownloadRow::TryPackageOnDisk},
        PlanCase{"negative offset", V(1, 0, 3, 7), V(1, 0, 0, 0), -5, 1000, V(1, 0, 3, 7), DownloadRow::TryPackageOnDisk},
        PlanCase{"resume", V(1, 0, 3, 7), V(1, 0, 0, 0), 600, 1000, V(1, 0, 3, 7), DownloadRow::Resume},
        PlanCase{"resume beyond 2 GiB", V(1, 0, 3, 7), V(1, 0, 0, 0), 3000000000LL, 4000000000LL, V(1, 0, 3, 7),
                 DownloadRow::Resume},
        PlanCase{"version changed", V(1, 0, 3, 7), V(1, 0, 0, 0), 600, 1000, V(1, 0, 4, 0),
                 DownloadRow::FreshVersionChanged}));

TEST(ResumePlan, ACompleteFileIsUnpackedNotFetchedAgain)
{
    using core::ResumeAction;
    EXPECT_EQ(core::PlanResume(1000, 1000), ResumeAction::UnpackComplete);
    EXPECT_EQ(core::PlanResume(999, 1000), ResumeAction::ContinueAtFileLength);
    EXPECT_EQ(core::PlanResume(1001, 1000), ResumeAction::StartOver);
    EXPECT_EQ(core::PlanResume(0, 0), ResumeAction::StartOver);   // an empty file is no package
    EXPECT_EQ(core::PlanResume(-1, 1000), ResumeAction::StartOver);  // no file
}

// A hostile Content-Length near 2^63 must not overflow the sums and products of the figures.
TEST(ProgressFigures, LengthsBeyondThePercentArithmeticAreRefused)
{
    EXPECT_TRUE(core::ProgressFiguresFit(1000, 4000000000LL, 0));
    EXPECT_TRUE(core::ProgressFiguresFit(0, core::kMaxPackageBytes, core::kMaxPackageBytes));
    EXPECT_FALSE(core::ProgressFiguresFit(1000, INT64_MAX - 807, 0));
    EXPECT_FALSE(core::ProgressFiguresFit(1, core::kMaxPackageBytes, 0));
    EXPECT_FALSE(core::ProgressFiguresFit(0, 1000, core::kMaxPackageBytes + 1));
    EXPECT_FALSE(core::ProgressFiguresFit(0, -1, 0));
    const core::ProgressFigures f = core::ComputeProgress(1, core::kMaxPackageBytes - 1, core::kMaxPackageBytes - 1);
    EXPECT_EQ(f.percent, 100);
}

struct ProgressCase {
    std::int64_t resumeFrom, total, now;
    std::int64_t offset, fullTotal;
    int percent;
    const wchar_t* detail;
};

class Progress : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(Progress, CountsTheWholePackage)
{
    const auto& p = GetParam();
    const core::ProgressFigures f = core::ComputeProgress(p.resumeFrom, p.total, p.now);
    EXPECT_EQ(f.downloadOffset, p.offset);
    EXPECT_EQ(f.downloadTotal, p.fullTotal);
    EXPECT_EQ(f.percent, p.percent);
    EXPECT_EQ(f.detail, p.detail);
}

INSTANTIATE_TEST_SUITE_P(Table, Progress,
                         ::testing::Values(ProgressCase{0, 0, 0, 0, 0, 0, L"0%"},
                                           ProgressCase{600, 400, 0, 600, 1000, 60, L"60%"},
                                           ProgressCase{0, 1000, 455, 455, 1000, 45, L"45%"},
                                           ProgressCase{0, 1000, 1000, 1000, 1000, 100, L"100%"},
                                           ProgressCase{0, 1000, 1500, 1500, 1000, 100, L"100%"},
                                           ProgressCase{3000000000LL, 1000000000LL, 500000000LL, 3500000000LL,
                                                        4000000000LL, 87, L"87%"}));

}  // namespace
