// Which keys the page never gets: refresh (F5), open (Ctrl+O), print (Ctrl+P) and new window
// (Ctrl+N). The browser would carry them out itself and leave the launcher's page.
#pragma once

namespace core {

struct AcceleratorKeys {
    bool keyDown = false;  // the message is a key-down message
    bool f5 = false;       // F5 is physically down
    bool ctrl = false;     // Ctrl was down when the message was sent
    bool o = false;        // O, P and N are physically down
    bool p = false;
    bool n = false;
};

bool IsBlockedAccelerator(const AcceleratorKeys& keys);

}  // namespace core
