// The stand-in browser's own log: one UTF-8 line per notable event (navigation, script
// errors, keys, menus, windows, message boxes), appended to the file STANDIN_BROWSER_LOG
// names, else C:\standin_browser.log, so tests can see what the page met.
#pragma once
#include <string>

namespace standin {

void Log(const std::wstring& line);

}  // namespace standin
