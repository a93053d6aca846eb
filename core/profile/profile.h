// The compiled-in launcher profile. Each launcher executable links one definition of these
// constants (app/profile.cpp, generated values per build); portable code and tests that need
// other values call the rule functions with their own values instead.
#pragma once
#include <string>

#include "core/profile/launcher_profile.h"
#include "core/update/config_signature.h"

extern const wchar_t LAUNCHER_VERSION[];
extern const wchar_t GAME_NAME[];
extern const wchar_t GAME_CODE[];
extern const wchar_t DITCH_CODE[];
extern const std::wstring CONFIG_URL;
extern const std::wstring ERROR_REPORT_URL;
extern const std::wstring INFO_REPORT_URL;
extern const core::ChannelKeys CHANNEL_PUBLIC_KEYS;
