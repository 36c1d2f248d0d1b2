// The DLL search restriction, in a test program of its own: it holds for the rest of the process.
#include "instutil/dll_search.h"

#include "test_support.h"

#include <string>

TEST(DllSearch, AfterTheRestrictionNoDllComesFromTheProgramsFolderOrTheCurrentDirectory) {
    const std::wstring marker = ThisProgramDir() + L"..\\instkit_marker.dll";
    // Beside the program, in a build tree that the 32-bit and the WoW64 suite may run side by side
    // in, with process ids of their own Wine servers: the names say which suite made them.
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const std::wstring tag =
        std::wstring(wow64 ? L"zqdllw" : L"zqdll") + std::to_wstring(GetCurrentProcessId());
    const std::wstring scratch = MakeScratchDir(L"dllsearch");
    const std::wstring before = ThisProgramDir() + tag + L"_before.dll";
    const std::wstring beside = ThisProgramDir() + tag + L"_beside.dll";
    const std::wstring inCurrent = scratch + L"\\" + tag + L"_current.dll";
    for (const std::wstring& copy : {before, beside, inCurrent}) {
        ASSERT_TRUE(CopyFileW(marker.c_str(), copy.c_str(), FALSE)) << Narrow(copy);
    }
    wchar_t savedDirectory[MAX_PATH + 1];
    GetCurrentDirectoryW(MAX_PATH + 1, savedDirectory);
    ASSERT_TRUE(SetCurrentDirectoryW(scratch.c_str()));

    // Unrestricted, a DLL beside the program is found by its name alone.
    HMODULE found = LoadLibraryW((tag + L"_before.dll").c_str());
    EXPECT_NE(found, nullptr);
    EXPECT_TRUE(FileExists(before + L".loaded"));
    if (found) FreeLibrary(found);

    EXPECT_TRUE(RestrictDllSearchToSystem());
    EXPECT_EQ(LoadLibraryW((tag + L"_beside.dll").c_str()), nullptr);
    EXPECT_EQ(LoadLibraryW((tag + L"_current.dll").c_str()), nullptr);
    EXPECT_FALSE(FileExists(beside + L".loaded"));
    EXPECT_FALSE(FileExists(inCurrent + L".loaded"));
    // System DLLs still load by name, and any DLL by its full path.
    HMODULE system = LoadLibraryW(L"version.dll");
    EXPECT_NE(system, nullptr);
    if (system) FreeLibrary(system);
    HMODULE named = LoadLibraryW(beside.c_str());
    EXPECT_NE(named, nullptr);
    if (named) FreeLibrary(named);

    SetCurrentDirectoryW(savedDirectory);
    for (const std::wstring& copy : {before, beside, inCurrent}) {
        DeleteFileW(copy.c_str());
        DeleteFileW((copy + L".loaded").c_str());
    }
    RemoveTree(scratch);
}
