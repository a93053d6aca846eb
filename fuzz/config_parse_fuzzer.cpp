// The configuration document as libcurl hands it over: the body in pieces cut where the input
// says, each through the write callback, then the parse, the getters and the version values
// the update driver reads from it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/update/client_version.h"
#include "core/update/posix_update_host.h"
#include "core/update/remote_config.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr int kMaxCuts = 16;

// What the write callback is documented to append for one piece: its bytes up to the first
// zero byte, decoded from the code page.
std::wstring DecodedPiece(core::IUpdateHost& host, const std::string& piece)
{
    return host.FromAnsi(piece.substr(0, piece.find('\0')));
}

void CheckVersionValue(const core::RemoteConfigMap& config, const wchar_t* key)
{
    const std::wstring* text = core::FindConfigValue(config, key);
    if (!text) return;
    // The form the launcher writes a version in reads back as the same version.
    const core::LocalClientVersion version = core::ParseClientVersion(*text);
    FUZZ_CHECK(core::ParseClientVersion(core::FormatClientVersion(version)) == version);
}

// The package URL as the download forms it from a template of the configuration.
void CheckPackageUrl(const core::RemoteConfigMap& config, const wchar_t* key)
{
    const std::wstring* urlTemplate = core::FindConfigValue(config, key);
    if (!urlTemplate) return;
    const std::wstring url = core::ReplaceAll(*urlTemplate, L"{ditch_name}", L"palmet");
    FUZZ_CHECK(url.find(L"{ditch_name}") == std::wstring::npos);
    const std::wstring* version = core::FindConfigValue(config, L"ClientVersion");
    core::ReplaceAll(url, L"{version}", version ? *version : L"");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    // The cuts come from the input's tail, so a document at its start reads as a document.
    std::vector<std::size_t> cuts(in.ConsumeIntegralInRange<int>(0, kMaxCuts));
    for (std::size_t& cut : cuts) cut = in.ConsumeIntegral<std::uint16_t>();
    const std::string body = in.ConsumeRemainingBytesAsString();
    for (std::size_t& cut : cuts) cut %= body.size() + 1;
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(body.size());

    core::PosixUpdateHost host;
    core::ConfigResponse response;
    response.host = &host;
    std::wstring expected;
    std::size_t from = 0;
    for (const std::size_t to : cuts) {
        const std::string piece = body.substr(from, to - from);
        from = to;
        // Each piece in a buffer of exactly its size, so a read past it is a finding.
        std::unique_ptr<char[]> bytes(new char[piece.size()]);
        std::memcpy(bytes.get(), piece.data(), piece.size());
        FUZZ_CHECK(core::OnConfigData(bytes.get(), 1, piece.size(), &response) == piece.size());
        expected += DecodedPiece(host, piece);
    }
    FUZZ_CHECK(response.text == expected);

    core::RemoteConfigMap config;
    core::ParseRemoteConfig(response.text, config);
    FUZZ_CHECK(!config.empty());
    for (const auto& [key, value] : config) {
        FUZZ_CHECK(key.find_first_of(L"=\n") == std::wstring::npos);
        FUZZ_CHECK(value.find(L'\n') == std::wstring::npos);
    }
    // The first occurrence of a key wins: parsing the same text again changes nothing.
    core::RemoteConfigMap again = config;
    core::ParseRemoteConfig(response.text, again);
    FUZZ_CHECK(again == config);

    const std::wstring* entry = core::FindConfigValue(config, L"EntryUrl");
    FUZZ_CHECK(core::GetEntryUrl(config) == (entry ? *entry : std::wstring()));
    const std::wstring* custom = core::FindConfigValue(config, L"CustomParameters");
    FUZZ_CHECK(core::GetCustomParameters(config) == (custom ? *custom : std::wstring()));
    CheckVersionValue(config, L"ClientVersion");
    CheckVersionValue(config, L"ClientMiniUpdateVersion");
    CheckPackageUrl(config, L"ClientDownloadUrl");
    CheckPackageUrl(config, L"Client32DownloadUrl");
    return 0;
}
