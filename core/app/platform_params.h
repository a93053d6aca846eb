// The game platform's parameters on the launcher's command line: blank-separated tokens of two
// prefix characters, a key, "=" and a value (for example --winid=525), in the ANSI code page.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace core {

// Splits at space characters only (a run of spaces is one separator; tabs and quotes are
// ordinary characters).
std::vector<std::string> SplitParamTokens(const std::string& commandLine);

// The value of the first token whose key equals key, byte for byte; "" when none does. A
// token needs at least two characters and an "=" after its prefix to match: "--winid" alone
// names no key and gives no value.
std::string FindParamValue(const std::vector<std::string>& tokens, const std::string& key);

// "fileparam=<file parameter>" when there is one, then "&key=value" for every token whose
// first "=" stands after at least one key character, in command-line order, unchanged.
std::string BuildQueryString(const std::vector<std::string>& tokens, const std::string* fileParameter);

// The show-window message's data: type 1, the text "1" zero-padded to 2048 bytes, flag 1,
// little-endian; 2056 bytes.
constexpr std::uint32_t kShowWindowDataTag = 1;
constexpr std::size_t kShowWindowPayloadSize = 2056;
std::vector<unsigned char> ShowWindowPayload();

}  // namespace core
