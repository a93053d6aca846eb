// Client version numbers: four signed 32-bit components, "%d.%d.%d.%d" as text.
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace core {

struct LocalClientVersion {
    std::array<std::int32_t, 4> parts{0, 0, 0, 0};
};

// Cuts the text at "." into four fields (text after a fourth dot is ignored) and converts each
// the way the C library converts text to an int: leading white space skipped, one sign,
// decimal digits up to the first other character, 0 without digits (clamped to 32 bits).
LocalClientVersion ParseClientVersion(const std::wstring& text);

std::wstring FormatClientVersion(const LocalClientVersion& v);

// Component by component, as signed numbers.
int CompareClientVersions(const LocalClientVersion& a, const LocalClientVersion& b);
inline bool operator<(const LocalClientVersion& a, const LocalClientVersion& b)
{
    return CompareClientVersions(a, b) < 0;
}
inline bool operator==(const LocalClientVersion& a, const LocalClientVersion& b) { return a.parts == b.parts; }
inline bool operator!=(const LocalClientVersion& a, const LocalClientVersion& b) { return !(a == b); }

// The C library's text-to-integer conversion, for wide and byte text.
std::int64_t ParseLeadingInteger(const std::wstring& text, std::int64_t min, std::int64_t max);
std::int64_t ParseLeadingInteger(const std::string& text, std::int64_t min, std::int64_t max);

}  // namespace core
