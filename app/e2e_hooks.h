// What only the end-to-end launcher build (launcher_e2e) has: ways for the tests to drive it
// into states a player reaches by accident.
#pragma once

namespace e2e {

// When LAUNCHER_E2E_CRASH_FILE names a file, faults as soon as that file exists, so a test can
// let the start finish (reports sent) and then have the launcher crash and write its dump.
void CrashWhenAsked();

}  // namespace e2e
