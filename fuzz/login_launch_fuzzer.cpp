// The page's login result and the game's command line built from it: any text the page can
// send is split without fault, and what reaches the game is exactly the pieces it was made of.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "core/launch/game_command_line.h"
#include "core/launch/launch_gate.h"
#include "core/launch/login_result.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::wstring result = fuzz::ConsumeWideText(in, 512);
    const std::wstring launcher = fuzz::ConsumeWideText(in, 256);
    const std::wstring custom = fuzz::ConsumeWideText(in, 256);
    const std::wstring luaFile = fuzz::ConsumeWideText(in, 512);

    const core::LoginResult parsed = core::ParseLoginResult(result);
    const std::size_t bar = result.find(L'|');
    switch (parsed.kind) {
    case core::LoginResult::Kind::Empty:
        FUZZ_CHECK(result.empty());
        break;
    case core::LoginResult::Kind::ThirdParty:
        FUZZ_CHECK(bar == std::wstring::npos && parsed.parameters == result);
        break;
    case core::LoginResult::Kind::Rejected:
        FUZZ_CHECK(bar != std::wstring::npos && parsed.parameters.empty());
        break;
    case core::LoginResult::Kind::Accepted:
        FUZZ_CHECK(bar == 4 && parsed.parameters.find(L'|') == std::wstring::npos);
        FUZZ_CHECK(result.compare(bar + 1, parsed.parameters.size(), parsed.parameters) == 0);
        break;
    }

    core::LaunchGate gate;
    const bool launchAtReady = in.ConsumeBool() && gate.Ready();
    const core::LaunchGate::LoginStep step = gate.Login(result);
    FUZZ_CHECK(!launchAtReady);
    const bool accepted = parsed.kind == core::LoginResult::Kind::Accepted ||
                          parsed.kind == core::LoginResult::Kind::ThirdParty;
    FUZZ_CHECK(gate.IsLoggedIn() == accepted);
    FUZZ_CHECK(step.launch == (accepted && gate.IsReady()));

    const std::wstring lua = core::FirstLuaPathLine(luaFile);
    // At most one line: a line break only as its last character.
    FUZZ_CHECK(lua.size() <= core::kMaxLuaPathLine && lua.find(L'\n') >= lua.size() - 1);
    // What it holds is the start of the file as a text read sees it (CR LF as LF).
    std::wstring asRead;
    for (size_t i = 0; i < luaFile.size(); ++i)
        if (!(luaFile[i] == L'\r' && i + 1 < luaFile.size() && luaFile[i + 1] == L'\n')) asRead += luaFile[i];
    FUZZ_CHECK(asRead.compare(0, lua.size(), lua) == 0);

    const auto line = core::FormatGameCommandLine(launcher, gate.Parameters(), custom, lua);
    const std::wstring expected =
        launcher + L" --parameters=" + gate.Parameters() + L" --plat_extra=" + custom + L" --luapath=" + lua;
    if (line) FUZZ_CHECK(*line == expected && line->size() <= core::kMaxGameCommandLine);
    else FUZZ_CHECK(expected.size() > core::kMaxGameCommandLine);
    return 0;
}
