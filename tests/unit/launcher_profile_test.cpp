#include "core/profile/launcher_profile.h"

#include <gtest/gtest.h>

TEST(LauncherProfile, UrlsNameTheChannelAndHost)
{
    EXPECT_EQ(core::MakeConfigUrl(L"127.0.0.1:8080", L"palmet"),
              L"http://127.0.0.1:8080/api/merth/ditches/palmet/client_config_palmet.php");
    EXPECT_EQ(core::MakeConfigUrl(L"cfg.example", L"x9"), L"http://cfg.example/api/merth/ditches/x9/client_config_x9.php");
    EXPECT_EQ(core::MakeErrorReportUrl(L"s:1"), L"http://s:1/api/laucher_error.php");
    EXPECT_EQ(core::MakeInfoReportUrl(L"s:1"), L"http://s:1/api/laucher_info.php");
}
