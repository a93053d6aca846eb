// The client uid: a SHA-1 of the base board, BIOS and operating-system serial numbers that
// WMI reports, so the same machine gives the same uid at every start.
#pragma once
#include <string>

namespace fingerprint {

// The process's COM security choice that WMI needs (an HRESULT); it fails when the process
// has already chosen. A parameter, so tests can make it fail on any system: Wine never refuses
// a second choice.
using ComSecurityChoice = long (*)();
long ChooseComSecurity();

// 40 lower-case hex digits; "unkown" when COM or WMI cannot give the serials (a refused
// security choice included); "" when the digest cannot be computed. Initialises COM on the
// calling thread for the duration and leaves the thread's COM state as it found it.
std::wstring ReadClientUid(ComSecurityChoice chooseSecurity = ChooseComSecurity);

// SHA-1 of the text's UTF-8 bytes (no byte-order mark, no terminator) through the base
// cryptographic provider, as 40 lower-case hex digits; "" when the provider fails.
std::wstring Sha1HexOfUtf8(const std::wstring& text);

}  // namespace fingerprint
