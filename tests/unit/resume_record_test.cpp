#include "core/update/resume_record.h"

#include <gtest/gtest.h>

namespace {

TEST(ResumeRecordFormat, ThreeLfEndedLines)
{
    EXPECT_EQ(core::FormatResumeRecord("1.0.3.7", 600, 1000), "downloadVersion=1.0.3.7\noffset=600\ntotalSize=1000\n");
    EXPECT_EQ(core::FormatResumeRecord("0.0.0.0", -5, 3000000000LL),
              "downloadVersion=0.0.0.0\noffset=-5\ntotalSize=3000000000\n");
}

// The validator line comes last, so readers that know only the three fields still find them;
// one that would not fit a record line, or would break it, is left out.
TEST(ResumeRecordFormat, ValidatorLineWhenItFits)
{
    const std::string record = core::FormatResumeRecord("1.0.3.7", 600, 1000, "\"5f3-1a\"");
    EXPECT_EQ(record, "downloadVersion=1.0.3.7\noffset=600\ntotalSize=1000\nvalidator=\"5f3-1a\"\n");
    EXPECT_EQ(core::FindResumeField(record, "totalSize"), "1000");
    EXPECT_EQ(core::FindResumeField(record, "validator"), "\"5f3-1a\"");
    const std::string longest(89, 'e');  // "validator=" and this: 99 characters
    EXPECT_EQ(core::FindResumeField(core::FormatResumeRecord("1", 1, 2, longest), "validator"), longest);
    for (const std::string& unfit : {std::string(90, 'e'), std::string("\"a\r\nb\"")})
        EXPECT_EQ(core::FormatResumeRecord("1.0.3.7", 600, 1000, unfit), core::FormatResumeRecord("1.0.3.7", 600, 1000));
}

struct FieldCase {
    const char* what;
    std::string content;
    const char* key;
    const char* value;
};

class ResumeField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(ResumeField, FindsTheFirstMatchingLine)
{
    EXPECT_EQ(core::FindResumeField(GetParam().content, GetParam().key), GetParam().value) << GetParam().what;
}

const std::string kLong(100, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, ResumeField,
    ::testing::Values(
        FieldCase{"plain", "downloadVersion=1.0.3.7\noffset=600\ntotalSize=1000\n", "offset", "600"},
        FieldCase{"crlf as text mode reads it", "downloadVersion=1.0.3.7\r\noffset=600\r\ntotalSize=1000\r\n",
                  "totalSize", "1000"},
        FieldCase{"other order", "totalSize=9\noffset=3\n", "offset", "3"},
        FieldCase{"first of two wins", "offset=1\noffset=2\n", "offset", "1"},
        FieldCase{"value keeps further equals", "offset=1=2\n", "offset", "1=2"},
        FieldCase{"no final newline", "offset=77", "offset", "77"},
        FieldCase{"missing key", "offset=1\n", "totalSize", ""},
        FieldCase{"key must match whole", "offsets=1\noffset=2\n", "offset", "2"},
        FieldCase{"line without equals is its own key and value", "offset\n", "offset", "offset"},
        FieldCase{"a long line hides what follows", kLong + "\noffset=5\n", "offset", ""},
        FieldCase{"a 99-character line does not", std::string(99, 'y') + "\noffset=5\n", "offset", "5"},
        FieldCase{"a long line after the match is harmless", "offset=5\n" + kLong + "\n", "offset", "5"},
        FieldCase{"empty file", "", "offset", ""}));

}  // namespace
