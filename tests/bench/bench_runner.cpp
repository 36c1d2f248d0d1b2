// Benchmark, run under Wine by the `benchmark` target:
//  1. a whole add_shortcuts.exe run against minimal_add.exe, a baseline that writes the same
//     five shortcuts with one read of relinfo.xml (goal: within 1.25x);
//  2. the release-value read of a 64 MiB relinfo.xml whose key comes last against a plain read
//     of the same file (goal: within 1.5x, i.e. the search stays linear).
// Prints medians and whether each goal is met; it measures, it does not fail.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "instutil/paths.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr int kRuns = 15;

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / frequency.QuadPart;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void RemoveTreeAt(const std::wstring& path) {
    std::wstring from = path + L'\0';
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&operation);
}

// Milliseconds from CreateProcess to the program's end.
double TimeRun(const std::wstring& program) {
    std::wstring line = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    double start = Now();
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        fwprintf(stderr, L"cannot start %ls\n", program.c_str());
        return 0;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    double elapsed = Now() - start;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return elapsed;
}

std::wstring RegValue(HKEY root, const wchar_t* name) {
    wchar_t value[1024];
    DWORD size = sizeof(value);
    if (RegGetValueW(root, kShellFolders, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, value, &size) != ERROR_SUCCESS) {
        return {};
    }
    return value;
}

void SetRegValue(HKEY root, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, kShellFolders, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    if (value.empty()) {
        RegDeleteValueW(key, name);
    } else {
        RegSetValueExW(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

bool WholeRuns(const std::wstring& scratch, const std::wstring& here) {
    std::wstring programs = scratch + L"\\Programs";
    std::wstring root = scratch + L"\\root";
    std::wstring tools = root + L"\\KELDA\\bin\\winx64\\tools";
    SHCreateDirectoryExW(nullptr, programs.c_str(), nullptr);
    SHCreateDirectoryExW(nullptr, (root + L"\\commonfiles\\globalsettings").c_str(), nullptr);
    SHCreateDirectoryExW(nullptr, tools.c_str(), nullptr);
    WriteFileBytes(root + L"\\commonfiles\\globalsettings\\relinfo.xml",
                   "<r startMenuFolderName=\"Vortasim 18\" "
                   "startMenuShortcutAppendRevision=\"18.1\"/>");
    CopyFileW((here + L"..\\..\\add_shortcuts\\add_shortcuts.exe").c_str(),
              (tools + L"\\add_shortcuts.exe").c_str(), FALSE);
    CopyFileW((here + L"minimal_add.exe").c_str(), (tools + L"\\minimal_add.exe").c_str(), FALSE);

    std::wstring savedCommon = RegValue(HKEY_LOCAL_MACHINE, L"Common Programs");
    std::wstring savedUser = RegValue(HKEY_CURRENT_USER, L"Programs");
    SetRegValue(HKEY_LOCAL_MACHINE, L"Common Programs", programs);
    SetRegValue(HKEY_CURRENT_USER, L"Programs", programs);

    std::vector<double> ours, minimal;
    for (int run = -2; run < kRuns; ++run) {  // two warm-up rounds
        RemoveTreeAt(programs + L"\\Vortasim 18");
        double a = TimeRun(tools + L"\\add_shortcuts.exe");
        RemoveTreeAt(programs + L"\\Vortasim 18");
        double b = TimeRun(tools + L"\\minimal_add.exe");
        if (run >= 0) {
            ours.push_back(a);
            minimal.push_back(b);
        }
    }
    SetRegValue(HKEY_LOCAL_MACHINE, L"Common Programs", savedCommon);
    SetRegValue(HKEY_CURRENT_USER, L"Programs", savedUser);

    double ratio = Median(ours) / Median(minimal);
    wprintf(
        L"whole run, median of %d: add_shortcuts %.1f ms, minimal %.1f ms, ratio %.2f "
        L"(goal 1.25): %ls\n",
        kRuns, Median(ours), Median(minimal), ratio, ratio <= 1.25 ? L"met" : L"MISSED");
    return ratio <= 1.25;
}

bool LargeRead(const std::wstring& scratch) {
    std::wstring file = scratch + L"\\relinfo.xml";
    std::string text;
    text.reserve(64u << 20);
    text += "<?xml version=\"1.0\"?>\n<release>\n";
    const std::string line = "  <entry name=\"component\" value=\"a \\\"quoted\\\" value\"/>\n";
    while (text.size() + line.size() < (64u << 20) - 128) text += line;
    text += "  <startMenuFolderName value=\"Vortasim 18\"/>\n</release>\n";
    WriteFileBytes(file, text);

    std::vector<double> search, plain;
    for (int run = 0; run < 5; ++run) {
        double start = Now();
        int size = ReadReleaseValue(file.c_str(), kStartMenuFolderNameKey, nullptr, 0);
        search.push_back(Now() - start);
        if (size != 12) wprintf(L"unexpected size %d\n", size);

        start = Now();
        HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        DWORD length = GetFileSize(handle, nullptr);
        BYTE* bytes = new BYTE[length];
        DWORD got = 0;
        ReadFile(handle, bytes, length, &got, nullptr);
        CloseHandle(handle);
        delete[] bytes;
        plain.push_back(Now() - start);
    }
    DeleteFileW(file.c_str());
    double ratio = Median(search) / Median(plain);
    wprintf(
        L"64 MiB relinfo.xml, key last, median of 5: release-value read %.1f ms, plain read "
        L"%.1f ms, ratio %.2f (goal 1.5): %ls\n",
        Median(search), Median(plain), ratio, ratio <= 1.5 ? L"met" : L"MISSED");
    return ratio <= 1.5;
}

}  // namespace

int wmain() {
    wchar_t module[MAX_PATH * 2];
    GetModuleFileNameW(nullptr, module, MAX_PATH * 2);
    std::wstring here = module;
    here.resize(here.rfind(L'\\') + 1);
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring scratch = std::wstring(temp) + L"instkit-bench";
    RemoveTreeAt(scratch);
    SHCreateDirectoryExW(nullptr, scratch.c_str(), nullptr);

    // Which route these figures belong to.
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    wprintf(L"Route: %ls\n", sizeof(void*) == 8 ? L"x86_64 build, 64-bit prefix"
                             : wow64            ? L"i686 build, 64-bit prefix (WoW64)"
                                                : L"i686 build, 32-bit prefix");

    WholeRuns(scratch, here);
    LargeRead(scratch);
    RemoveTreeAt(scratch);
    return 0;
}
