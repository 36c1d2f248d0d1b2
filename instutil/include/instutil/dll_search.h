// Where the process looks for DLLs that it loads by name: for programs that run with raised
// rights from a folder that others may be able to write to.
#pragma once

#include <windows.h>

// Restricts the DLL search of the whole process, for the rest of its life, to the system folder:
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) where the system has it (Windows 8 and
// later, Vista and 7 with KB2533623; looked up at run time), and SetDllDirectoryW(L""), which
// takes the current directory out of the search everywhere. A DLL loaded by name afterwards,
// and every DLL that it in turn loads, then comes from the system folder, never from the
// program's folder or the current directory; without SetDefaultDllDirectories only the current
// directory is left out.
//
// Call it first thing, before any DLL other than those the loader needs to start the process is
// loaded (the programs delay-load the rest; see instutil/CMakeLists.txt). True when
// SetDefaultDllDirectories was found and succeeded.
bool RestrictDllSearchToSystem();
