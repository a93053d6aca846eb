// The launcher runs with administrator rights from a folder the player can write to: DLLs are
// loaded from System32 only, never from beside the launcher or the current directory.
#pragma once

// Call first in wWinMain, before anything can load a DLL by name. The system DLLs the launcher
// links that Windows does not already take from System32 are delay-loaded for this reason
// (cmake/DelayImports.cmake).
void RestrictDllSearchToSystem32();
