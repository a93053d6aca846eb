// Wide text made from fuzz input in the three shapes the launcher meets: bytes read as UTF-8
// (the POSIX host's "ANSI", UTF-8 entry names), 16-bit code units with lone surrogates as
// Windows hands them over, and any 32-bit value, which nothing stops a wide string on Linux
// from holding.
#pragma once
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/text/utf8_text.h"

namespace fuzz {

inline std::wstring ConsumeWideText(FuzzedDataProvider& in, std::size_t maxUnits)
{
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
        return core::Utf8ToWide(in.ConsumeRandomLengthString(maxUnits));
    case 1: {
        std::wstring text(in.ConsumeIntegralInRange<std::size_t>(0, maxUnits), L'\0');
        for (wchar_t& unit : text) unit = static_cast<wchar_t>(in.ConsumeIntegral<std::uint16_t>());
        return text;
    }
    default: {
        std::wstring text(in.ConsumeIntegralInRange<std::size_t>(0, maxUnits), L'\0');
        for (wchar_t& unit : text) unit = static_cast<wchar_t>(in.ConsumeIntegral<std::uint32_t>());
        return text;
    }
    }
}

}  // namespace fuzz
