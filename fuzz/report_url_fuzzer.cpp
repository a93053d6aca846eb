// The report URLs with fingerprints composed by the core's own text rules from fuzzed machine
// facts (the processor name is whatever the registry holds) and any message text. Every URL
// must fit the platform's limit, carry only well-formed escapes, and its escaped values must
// decode to the start of the texts' UTF-8.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/diag/fingerprint_text.h"
#include "core/profile/launcher_profile.h"
#include "core/diag/report_url.h"
#include "core/text/utf8_text.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_text.h"

namespace {

// The longest escape of one character: four UTF-8 bytes as %XX each.
constexpr std::size_t kLongestEscape = 12;
constexpr std::size_t kTextUnits = 1200;  // more than fits, escaped, into one URL

const std::wstring kStatsHost = L"stats.launcher.invalid:80";

bool IsHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f'); }

int HexValue(wchar_t c) { return c <= L'9' ? c - L'0' : (c | 0x20) - L'a' + 10; }

// The bytes an escaped value stands for; every "%" must start an escape of two hex digits.
std::string Unescape(const std::wstring& value)
{
    std::string bytes;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != L'%') {
            FUZZ_CHECK(value[i] > 0x20 && value[i] < 0x7F);
            bytes += static_cast<char>(value[i]);
            continue;
        }
        FUZZ_CHECK(i + 2 < value.size() && IsHexDigit(value[i + 1]) && IsHexDigit(value[i + 2]));
        bytes += static_cast<char>(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]));
        i += 2;
    }
    return bytes;
}

// A value escaped into the URL: a prefix of the text's UTF-8, and all of it unless the URL had
// no room for even one more character.
void CheckEscapedValue(const std::wstring& url, const std::wstring& escaped, const std::wstring& text,
                       std::size_t ownLimit)
{
    FUZZ_CHECK(escaped.find_first_of(L"&=?#/+ ") == std::wstring::npos);
    const std::string decoded = Unescape(escaped);
    const std::string utf8 = core::WideToUtf8(text);
    FUZZ_CHECK(utf8.compare(0, decoded.size(), decoded) == 0 && decoded.size() <= utf8.size());
    if (decoded.size() < utf8.size())
        FUZZ_CHECK(url.size() + kLongestEscape > core::kMaxReportUrlChars || escaped.size() + kLongestEscape > ownLimit);
}

void CheckWholeUrl(const std::wstring& url)
{
    FUZZ_CHECK(url.size() <= core::kMaxReportUrlChars);
    for (std::size_t i = url.find(L'%'); i != std::wstring::npos; i = url.find(L'%', i + 1))
        FUZZ_CHECK(i + 2 < url.size() && IsHexDigit(url[i + 1]) && IsHexDigit(url[i + 2]));
}

// The text between key and the next "&" (or the end).
std::wstring ValueOf(const std::wstring& url, const std::wstring& key)
{
    const std::size_t at = url.find(key);
    FUZZ_CHECK(at != std::wstring::npos);
    const std::size_t from = at + key.size();
    const std::size_t to = url.find(L'&', from);
    return url.substr(from, to == std::wstring::npos ? std::wstring::npos : to - from);
}

core::ReportFingerprint ConsumeFingerprint(FuzzedDataProvider& in)
{
    core::ReportFingerprint fp;
    const std::vector<std::uint8_t> digest = in.ConsumeBytes<std::uint8_t>(in.ConsumeBool() ? 20 : 0);
    fp.clientUid = digest.empty() ? core::kUnknownText : core::HexDigest(digest);
    std::string ditch = in.ConsumeRandomLengthString(16);
    for (char& c : ditch) c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
    fp.ditchName.assign(ditch.begin(), ditch.end());
    std::vector<core::AdapterRecord> adapters(in.ConsumeIntegralInRange<int>(0, 3));
    for (core::AdapterRecord& adapter : adapters) {
        adapter.firstGateway = in.ConsumeBool() ? L"0.0.0.0" : L"192.168.1.1";
        for (std::uint8_t& b : adapter.address) b = in.ConsumeIntegral<std::uint8_t>();
    }
    fp.mac = core::ChooseMacText(adapters);
    const std::wstring processorText = fuzz::ConsumeWideText(in, kTextUnits);
    std::vector<std::uint8_t> registryData;
    for (wchar_t unit : processorText) {
        registryData.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        registryData.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
    }
    registryData.push_back(0);
    registryData.push_back(0);
    const std::wstring processor = core::ProcessorNameFromRegistryValue(true, core::kRegistryString, registryData);
    fp.osDescription = core::OsDescription(
        core::OsVersionText(in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>()),
        processor,
        core::MemoryText(in.ConsumeIntegral<std::uint32_t>(), in.ConsumeIntegral<std::uint32_t>()));
    return fp;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const int eventCode = in.ConsumeIntegral<int>();
    const core::ReportFingerprint fp = ConsumeFingerprint(in);
    const std::wstring message = fuzz::ConsumeWideText(in, kTextUnits);

    const std::wstring eventUrl = core::EventReportUrl(core::MakeInfoReportUrl(kStatsHost), fp, eventCode);
    CheckWholeUrl(eventUrl);
    const std::wstring eventPart = core::EventQueryPart(eventCode);
    FUZZ_CHECK(eventUrl.compare(eventUrl.size() - eventPart.size(), eventPart.size(), eventPart) == 0);
    const std::wstring eventOs = ValueOf(eventUrl, L"&os_version=");
    CheckEscapedValue(eventUrl, eventOs, fp.osDescription, core::kMaxReportUrlChars);

    const std::wstring messageUrl = core::MessageReportUrl(core::MakeErrorReportUrl(kStatsHost), fp, message);
    CheckWholeUrl(messageUrl);
    CheckEscapedValue(messageUrl, ValueOf(messageUrl, L"&os_version="), fp.osDescription,
                      core::kMaxEscapedOsDescriptionChars);
    const std::wstring escapedMessage = ValueOf(messageUrl, L"&error_msg=");
    FUZZ_CHECK(messageUrl.size() >= escapedMessage.size() &&
               messageUrl.compare(messageUrl.size() - escapedMessage.size(), escapedMessage.size(), escapedMessage) == 0);
    CheckEscapedValue(messageUrl, escapedMessage, message, core::kMaxReportUrlChars);
    return 0;
}
