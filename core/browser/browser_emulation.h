// The embedded browser's emulation setting: which document mode number a browser version
// asks for, how a version text gives its major version, and where the values live.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace core {

// The major version in a browser version text: the text before its first "." when that dot
// is not the first character (".5" is converted whole), read as a signed decimal number from
// its leading digits (no digits give 0; values beyond the int range are clamped).
int BrowserMajorVersion(const std::wstring& versionText);

// The greatest major version of the texts read (empty texts are skipped), at least 0.
int HighestBrowserMajorVersion(const std::vector<std::wstring>& versionTexts);

// Above 9: v*1000+1 (11 -> 11001); 8 or 9: v*1111 (8888, 9999); otherwise 7000. Absurdly
// large versions saturate instead of overflowing.
std::uint32_t EmulationNumber(int majorVersion);

// The value names holding the browser version, in the order they are read.
const std::vector<std::wstring>& BrowserVersionValueNames();

// Key of the installed browser's version (machine hive) and of the emulation setting (both
// hives); a 32-bit process on 64-bit Windows uses the Wow6432Node keys.
std::wstring BrowserVersionKeyPath(bool wow64);
std::wstring BrowserEmulationKeyPath(bool wow64);

// Every emulation key written in one hive: the key above, and for the current user on 64-bit
// Windows also the plain key. HKCU\Software is shared by both registry views and never
// redirected, so only the plain key there is read by a browser in a 32-bit process.
std::vector<std::wstring> BrowserEmulationKeyPaths(bool wow64, bool currentUser);

}  // namespace core
