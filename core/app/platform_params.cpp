#include "core/app/platform_params.h"

namespace core {

namespace {

constexpr std::size_t kPrefixLength = 2;

void PutUint32(std::vector<unsigned char>& out, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

std::vector<std::string> SplitParamTokens(const std::string& commandLine)
{
    std::vector<std::string> tokens;
    std::size_t start = 0;
    while (start < commandLine.size()) {
        const std::size_t space = commandLine.find(' ', start);
        const std::size_t end = space == std::string::npos ? commandLine.size() : space;
        if (end > start) tokens.push_back(commandLine.substr(start, end - start));
        start = end + 1;
    }
    return tokens;
}

std::string FindParamValue(const std::vector<std::string>& tokens, const std::string& key)
{
    for (const std::string& token : tokens) {
        if (token.size() < kPrefixLength) continue;
        const std::size_t eq = token.find('=');
        if (eq == std::string::npos || eq < kPrefixLength) continue;
        if (token.compare(kPrefixLength, eq - kPrefixLength, key) == 0) return token.substr(eq + 1);
    }
    return "";
}

std::string BuildQueryString(const std::vector<std::string>& tokens, const std::string* fileParameter)
{
    std::string query;
    if (fileParameter) query = "fileparam=" + *fileParameter;
    for (const std::string& token : tokens) {
        const std::size_t eq = token.find('=');
        if (eq == std::string::npos || eq <= kPrefixLength) continue;
        if (!query.empty()) query += "&";
        query += token.substr(kPrefixLength, eq - kPrefixLength) + "=" + token.substr(eq + 1);
    }
    return query;
}

std::vector<unsigned char> ShowWindowPayload()
{
    std::vector<unsigned char> payload(kShowWindowPayloadSize, 0);
    PutUint32(payload, 0, 1);
    payload[4] = 0x31;
    PutUint32(payload, 2052, 1);
    return payload;
}

}  // namespace core
