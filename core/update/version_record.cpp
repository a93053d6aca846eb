#include "core/update/version_record.h"

#include <cstdio>
#include <memory>

namespace core {

namespace {
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
constexpr std::size_t kLogTextChars = 255;  // the log text is formed in 256 characters
constexpr int kFirstLineChars = 63;
}  // namespace

std::wstring VersionRecordFile(UpdateContext& ctx)
{
    return ctx.host.JoinPath(ctx.paths.clientDir, L"game_client_version.txt");
}

LocalClientVersion CStringToLocalClientVersion(UpdateContext& ctx, const std::wstring& text)
{
    std::wstring line = L"local_client_version:" + text;
    if (line.size() > kLogTextChars) line.resize(kLogTextChars);
    ctx.Info("CGameRemoteConfig::CStringToLocalClientVersion", __LINE__, line);
    return ParseClientVersion(text);
}

void ReadLocalClientVersion(UpdateContext& ctx)
{
    const std::wstring path = VersionRecordFile(ctx);
    ctx.Info("CGameRemoteConfig::InitRemoteConfig", __LINE__, path);
    std::unique_ptr<std::FILE, FileCloser> file(ctx.host.OpenFile(path, "r"));
    if (!file) {
        ctx.state.freshInstall = 1;
        return;
    }
    char line[kFirstLineChars + 1] = {};
    if (!std::fgets(line, sizeof line, file.get())) line[0] = '\0';
    ctx.state.localClientVersion = CStringToLocalClientVersion(ctx, ctx.host.FromAnsi(line));
}

}  // namespace core
