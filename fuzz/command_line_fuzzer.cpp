// The launcher's command line as the platform passes it, through the same steps the launcher
// takes: the arguments after the program name, the "/uninstall" word, the parameter tokens of
// their code-page bytes, the lookups by key and the query string with the file parameter of
// the executable's name.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/app/command_line.h"
#include "core/app/platform_params.h"
#include "core/profile/profile_names.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_text.h"

namespace {

constexpr std::size_t kPrefixChars = 2;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

void CheckArguments(const std::wstring& commandLine, const std::wstring& arguments)
{
    FUZZ_CHECK(arguments.size() <= commandLine.size());
    FUZZ_CHECK(commandLine.compare(commandLine.size() - arguments.size(), arguments.size(), arguments) == 0);
    FUZZ_CHECK(arguments.empty() || !IsBlank(arguments[0]));
    // An unquoted program name ends at the first blank.
    const std::wstring skipped = commandLine.substr(0, commandLine.size() - arguments.size());
    if (!skipped.empty() && skipped[0] != L'"') {
        const std::size_t blank = skipped.find_first_of(L" \t");
        if (blank != std::wstring::npos) FUZZ_CHECK(skipped.find_first_not_of(L" \t", blank) == std::wstring::npos);
    }
    const bool uninstall = core::IsUninstallCommand(arguments);
    std::wstring lower = arguments;
    for (wchar_t& c : lower)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    FUZZ_CHECK(uninstall == (lower == L"/uninstall"));
}

void CheckTokens(const std::string& line, const std::vector<std::string>& tokens)
{
    std::string joined;
    for (const std::string& token : tokens) {
        FUZZ_CHECK(!token.empty() && token.find(' ') == std::string::npos);
        joined += token;
    }
    std::string withoutSpaces;
    for (char c : line)
        if (c != ' ') withoutSpaces += c;
    FUZZ_CHECK(joined == withoutSpaces);
}

// The first token with the key between its two prefix characters and its first "=".
void CheckLookup(const std::vector<std::string>& tokens, const std::string& key)
{
    std::string expected;
    for (const std::string& token : tokens) {
        if (token.size() >= kPrefixChars && token.find('=') == kPrefixChars + key.size() &&
            token.compare(kPrefixChars, key.size(), key) == 0) {
            expected = token.substr(kPrefixChars + key.size() + 1);
            break;
        }
    }
    FUZZ_CHECK(core::FindParamValue(tokens, key) == expected);
}

// Each token with a key passes into the query unchanged and in order, nothing else does. (The
// file parameter is part of the executable's name and may hold anything a file name can.)
void CheckQuery(const std::vector<std::string>& tokens, const std::string* fileParameter)
{
    const std::string query = core::BuildQueryString(tokens, fileParameter);
    if (!fileParameter) FUZZ_CHECK(query.find(' ') == std::string::npos);
    std::string expected = fileParameter ? "fileparam=" + *fileParameter : std::string();
    for (const std::string& token : tokens) {
        const std::size_t eq = token.find('=');
        if (eq == std::string::npos || eq <= kPrefixChars) continue;
        if (!expected.empty()) expected += '&';
        expected += token.substr(kPrefixChars);
    }
    FUZZ_CHECK(query == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::wstring modulePath = fuzz::ConsumeWideText(in, 64);
    const std::string key = in.ConsumeRandomLengthString(16);
    const std::wstring commandLine = fuzz::ConsumeWideText(in, 1024);

    const std::wstring arguments = core::ArgumentsOfCommandLine(commandLine);
    CheckArguments(commandLine, arguments);

    // The POSIX host's code page is UTF-8; on Windows the launcher converts with its own.
    const std::string line = core::WideToUtf8(arguments);
    const std::vector<std::string> tokens = core::SplitParamTokens(line);
    CheckTokens(line, tokens);
    for (const std::string& known : {std::string("winid"), std::string("token"), std::string("source"), key})
        CheckLookup(tokens, known);

    const std::wstring fileParameter = core::FileParameter(core::ApplicationNameFromModulePath(modulePath));
    const std::string fileParameterBytes = core::WideToUtf8(fileParameter);
    CheckQuery(tokens, fileParameter.empty() ? nullptr : &fileParameterBytes);
    CheckQuery(tokens, nullptr);
    return 0;
}
