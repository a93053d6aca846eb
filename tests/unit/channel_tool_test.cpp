// The command line of scripts/channel and the nginx rate it passes on.
#include <gtest/gtest.h>

#include "studio/command_args.h"
#include "studio/nginx_config.h"

namespace {

TEST(ChannelCommandArgs, OptionsInBothFormsAndPositionalWords)
{
    studio::CommandArgs args;
    std::string error;
    ASSERT_TRUE(studio::ParseCommandArgs({"out", "--port", "8080", "--limit-rate=2m", "--x=a=b"},
                                         {"port", "limit-rate", "x"}, args, error))
        << error;
    EXPECT_EQ(args.positional, std::vector<std::string>{"out"});
    EXPECT_EQ(args.OptionOr("port", ""), "8080");
    EXPECT_EQ(args.OptionOr("limit-rate", ""), "2m");
    EXPECT_EQ(args.OptionOr("x", ""), "a=b");
    EXPECT_FALSE(args.Option("missing"));
    // An empty value is a value ("--custom-parameters ''" writes an empty line).
    ASSERT_TRUE(studio::ParseCommandArgs({"--x", ""}, {"x"}, args, error));
    EXPECT_EQ(args.Option("x"), std::optional<std::string>(""));
}

TEST(ChannelCommandArgs, RefusesUnknownRepeatedAndValuelessOptions)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--colour", "red"}, "unknown option --colour"},
        {{"--port", "1", "--port=2"}, "--port is given twice"},
        {{"--port"}, "--port needs a value"},
    };
    for (const auto& [words, message] : cases) {
        studio::CommandArgs args;
        std::string error;
        EXPECT_FALSE(studio::ParseCommandArgs(words, {"port"}, args, error));
        EXPECT_EQ(error, message);
    }
}

TEST(NginxConfig, RatesAndPaths)
{
    for (const char* good : {"500", "500k", "2m"}) EXPECT_EQ(studio::NginxRateProblem(good), "") << good;
    for (const char* bad : {"", "k", "2g", "2mm", "1 m", "-1"}) EXPECT_NE(studio::NginxRateProblem(bad), "") << bad;
    for (const char* bad : {"/tmp/a\"b", "/tmp/$x", "/tmp/a\\b", "/tmp/a\nb"})
        EXPECT_NE(studio::NginxPathProblem(bad), "") << bad;
    const std::string config = studio::NginxConfig({"/run/x", "/proc/self/fd/3", "/srv/logs", 8080, "", "", "2m"});
    EXPECT_NE(config.find("listen 127.0.0.1:8080;"), std::string::npos);
    EXPECT_NE(config.find("limit_rate 2m;"), std::string::npos);
    EXPECT_NE(config.find("pid \"/run/x/nginx.pid\";"), std::string::npos);
    EXPECT_NE(config.find("root \"/proc/self/fd/3\";\n        disable_symlinks on from=$document_root;"),
              std::string::npos);
    EXPECT_NE(config.find("access_log \"/srv/logs/access.log\""), std::string::npos);
    // Not started by root: no account to take, and never root's.
    EXPECT_EQ(config.find("user "), std::string::npos);
    const std::string asRoot = studio::NginxConfig({"/run/x", "/proc/self/fd/3", "/srv/logs", 8080, "nobody", "nogroup", ""});
    EXPECT_NE(asRoot.find("\nuser nobody nogroup;\n"), std::string::npos);
    EXPECT_EQ(asRoot.find("limit_rate"), std::string::npos);
}

}  // namespace
