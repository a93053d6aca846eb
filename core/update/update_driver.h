// The update thread's routine: from whatever state the installed game is in to current, or to
// a numbered failure shown in the launcher window.
#pragma once
#include <functional>
#include <string>

#include "core/update/update_context.h"

namespace core {

// settleLauncherName gives the base name of the launcher copy; it is asked once, after the
// resume values are read and before the configuration is fetched.
void InitRemoteConfig(UpdateContext& ctx, const std::wstring& configUrl,
                      const std::function<std::wstring()>& settleLauncherName);

}  // namespace core
