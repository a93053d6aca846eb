// Reading the installed client's version record: what a missing, empty, multi-line or overlong
// record gives, and when a start counts as a fresh install.
#include "core/update/version_record.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "core/update/posix_update_host.h"
#include "tests/unit/version_literal.h"

namespace {

namespace fs = std::filesystem;
using testing_support::V;

struct RecordCase {
    const char* what;
    std::optional<std::string> content;  // nullopt: no record file
    core::LocalClientVersion expected;
    int freshInstall;
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.what; }

class VersionRecordRead : public ::testing::TestWithParam<RecordCase> {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "launcher-version-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        client = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(client, ignored);
    }
    fs::path client;
    core::PosixUpdateHost host;
    core::PipelineState state;
};

TEST_P(VersionRecordRead, GivesTheVersionOfTheFirstLine)
{
    if (GetParam().content) std::ofstream(client / "game_client_version.txt", std::ios::binary) << *GetParam().content;
    core::UpdateContext ctx{host, state, nullptr, core::PipelinePaths{L"", client.wstring(), L"qorn", L"palmet", L"qorn"}};
    core::ReadLocalClientVersion(ctx);
    EXPECT_EQ(state.localClientVersion, GetParam().expected);
    EXPECT_EQ(state.freshInstall, GetParam().freshInstall);
}

// 63 characters are read: the first line below ends in "7.8" after them, which must not count.
const std::string kOverlong = "1.2." + std::string(59, ' ') + "7.8";

INSTANTIATE_TEST_SUITE_P(
    Table, VersionRecordRead,
    ::testing::Values(RecordCase{"no record: a fresh install", std::nullopt, V(0, 0, 0, 0), 1},
                      RecordCase{"an empty record is no fresh install", std::string(), V(0, 0, 0, 0), 0},
                      RecordCase{"only the first line counts", std::string("1.0.3.7\r\n2.0.0.0\r\n"), V(1, 0, 3, 7), 0},
                      RecordCase{"a first line cut at 63 characters", kOverlong, V(1, 2, 0, 0), 0}));

}  // namespace
