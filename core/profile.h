// The compiled-in launcher profile. Each launcher executable links one definition of these
// constants (app/profile.cpp, generated values per build); portable code and tests that need
// other values call the rule functions with a core::LauncherProfile instead.
#pragma once
#include "core/launcher_profile.h"

extern const wchar_t LAUNCHER_VERSION[];
extern const wchar_t GAME_NAME[];
extern const wchar_t GAME_CODE[];
extern const wchar_t DITCH_CODE[];
extern const wchar_t CONFIG_URL[];
extern const wchar_t ERROR_REPORT_URL[];
extern const wchar_t INFO_REPORT_URL[];

// The same values as one object, for the rule functions.
const core::LauncherProfile& BuildProfile();
