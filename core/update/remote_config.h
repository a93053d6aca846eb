// The channel's configuration document: one GET per start, lines of key=value.
#pragma once
#include <cstddef>
#include <string>

#include "core/update/pipeline_state.h"
#include "core/update/update_context.h"

namespace core {

// Result codes of the fetch.
constexpr int kConfigFetched = 0;
constexpr int kConfigNoHandle = 101;
constexpr int kConfigRequestFailed = 102;

// Splits at LF only (a CR stays at the end of its line); key before the first "=", value after
// it (a line without "=" has the key "" and the whole line as value); nothing trimmed; the
// first occurrence of a key wins, also over keys already in the map.
void ParseRemoteConfig(const std::wstring& text, RemoteConfigMap& into);

// Every occurrence of from replaced by to.
std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to);

// Fetches configUrl ("{ditch_name}" replaced by the channel code) and fills
// ctx.state.remoteConfig. Returns kConfigFetched, kConfigNoHandle or kConfigRequestFailed. With
// channel keys in ctx, a document without a valid signature by one of them for this game and
// channel, or whose signed values do not hold (core/update/signed_config.h), fails like a
// request (kConfigRequestFailed) and fills nothing; an accepted one's serial is kept.
int FetchRemoteConfig(UpdateContext& ctx, const std::wstring& configUrl);

// The response being received, and the platform that decodes its bytes.
struct ConfigResponse {
    IUpdateHost* host = nullptr;
    std::wstring text;
    std::string bytes;  // as served: what a channel's signature covers
};

// libcurl write callback: decodes each chunk from the ANSI code page up to its first zero
// byte and appends it; 0 (abort) without a target or past 1 MiB received.
std::size_t OnConfigData(char* data, std::size_t size, std::size_t count, void* target);

// The value of "EntryUrl" / "CustomParameters", or "" when absent.
std::wstring GetEntryUrl(const RemoteConfigMap& config);
std::wstring GetCustomParameters(const RemoteConfigMap& config);

}  // namespace core
