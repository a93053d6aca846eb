#include "core/app/uninstall_commands.h"

#include <gtest/gtest.h>

namespace {

TEST(UninstallCommands, DelayThenQuietTreeRemovalOfTheQuotedDirectory)
{
    EXPECT_EQ(core::DelayedRemovalParameters(L"C:\\qorn-palmet"),
              L"/c ping 1.1.1.1 -n 3 -w 3000 > Nul & rmdir --ignore-fail-on-non-empty /q /s \"C:\\qorn-palmet\\\"");
    // A path with blanks stays one directory.
    EXPECT_EQ(core::DelayedRemovalParameters(L"D:\\Program Files\\qorn-palmet"),
              L"/c ping 1.1.1.1 -n 3 -w 3000 > Nul & rmdir --ignore-fail-on-non-empty /q /s "
              L"\"D:\\Program Files\\qorn-palmet\\\"");
    EXPECT_EQ(core::DelayedRemovalParameters(core::DefaultInstallDirForRemoval(L"qorn", L"palmet")),
              L"/c ping 1.1.1.1 -n 3 -w 3000 > Nul & rmdir --ignore-fail-on-non-empty /q /s \"c:\\\\qorn-palmet\\\"");
}

}  // namespace
