// The installed client's version: "game_client_version.txt" in the client directory.
#pragma once
#include <string>

#include "core/update/client_version.h"
#include "core/update/update_context.h"

namespace core {

// Logs "local_client_version:<text>" and parses the text.
LocalClientVersion CStringToLocalClientVersion(UpdateContext& ctx, const std::wstring& text);

// Reads the first line (at most 63 characters) of the version record into
// ctx.state.localClientVersion; a record that cannot be opened sets ctx.state.freshInstall.
void ReadLocalClientVersion(UpdateContext& ctx);

std::wstring VersionRecordFile(UpdateContext& ctx);

}  // namespace core
