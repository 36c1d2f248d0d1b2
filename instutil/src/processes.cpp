#include "instutil/processes.h"

#include "instutil/owners.h"
#include "instutil/paths.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <cwchar>

// The platform structures handed to the system, as a 32-bit or a 64-bit program lays them out.
#ifndef _WIN64
static_assert(sizeof(PROCESSENTRY32W) == 556, "PROCESSENTRY32W layout");
static_assert(sizeof(STARTUPINFOW) == 68, "STARTUPINFOW layout");
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "SHELLEXECUTEINFOW layout");
#else
static_assert(sizeof(PROCESSENTRY32W) == 568, "PROCESSENTRY32W layout");
static_assert(sizeof(STARTUPINFOW) == 104, "STARTUPINFOW layout");
static_assert(sizeof(SHELLEXECUTEINFOW) == 112, "SHELLEXECUTEINFOW layout");
#endif

namespace {

// Every right on a process: STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFF.
constexpr DWORD kAllProcessAccess = STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFF;
// Readings of a waited-for child's exit code, one second apart, before it is terminated.
constexpr int kExitCodeReadings = 30;
constexpr DWORD kReadingIntervalMs = 1000;
// Room for the longest Windows path and its terminator.
constexpr DWORD kImagePathChars = 32768;

// Desktop name handed to timed children: empty, not null.
wchar_t kDefaultDesktop[] = L"";

// A zeroed STARTUPINFOW that shows the window per `showCommand`.
STARTUPINFOW StartupShowing(int showCommand) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = LOWORD(showCommand);
    return startup;
}

// True when the image file name (without directory) of the open `process` contains `pattern`,
// compared character for character. `scratch` holds kImagePathChars units. False when the name
// cannot be had.
bool ImageNameContains(HANDLE process, const wchar_t* pattern, wchar_t* scratch) {
    DWORD length = kImagePathChars;
    if (!QueryFullProcessImageNameW(process, 0, scratch, &length)) return false;
    const wchar_t* separator = wcsrchr(scratch, L'\\');
    return wcsstr(separator ? separator + 1 : scratch, pattern) != nullptr;
}

// Hands `file` to the shell with `verb` and `mask`; the shell's result. With `process` given and
// SEE_MASK_NOCLOSEPROCESS in `mask`, *process receives the handle of the process the shell
// started, or null when it started none; the caller closes it.
BOOL ShellExecuteWith(const wchar_t* verb, ULONG mask, const wchar_t* file,
                      const wchar_t* parameters, int showCommand, HANDLE* process) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // Without SEE_MASK_FLAG_NO_UI the shell reports a failure in a modal box of its own, which
    // would hold an unattended caller until someone closes it.
    info.fMask = mask | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = verb;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = LOWORD(showCommand);
    BOOL result = ShellExecuteExW(&info);
    if (process) *process = result ? info.hProcess : nullptr;
    return result;
}

// Starts a hidden child that inherits the caller's inheritable handles. -1 when it cannot be
// created; otherwise, after waiting for it when `wait` is set, the result of closing its process
// handle.
int RunHidden(wchar_t* commandLine, DWORD creationFlags, bool wait) {
    if (!commandLine) return -1;  // nothing to start; some process APIs fault on it
    STARTUPINFOW startup = StartupShowing(SW_HIDE);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, creationFlags, nullptr,
                        nullptr, &startup, &child)) {
        return -1;
    }
    if (wait) WaitForSingleObject(child.hProcess, INFINITE);
    CloseHandle(child.hThread);
    return CloseHandle(child.hProcess);
}

}  // namespace

int TerminateProcessesByName(const wchar_t* pattern) {
    // An empty pattern would match every process the caller may open.
    if (!pattern || !*pattern) return 0;

    UniqueHandle snapshot = OwnHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;

    const DWORD self = GetCurrentProcessId();
    WideBufferPtr imagePath(AllocWideBuffer(kImagePathChars));
    int result = 1;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self) continue;
        if (!wcsstr(entry.szExeFile, pattern)) continue;
        UniqueHandle process =
            OwnHandle(OpenProcess(kAllProcessAccess, FALSE, entry.th32ProcessID));
        if (!process) continue;
        // The process listed may have ended since the snapshot and its identifier gone to
        // another: only a process whose image still matches is ended.
        if (!ImageNameContains(process.get(), pattern, imagePath.get())) continue;
        result *= TerminateProcess(process.get(), 0) ? 1 : 0;
    }
    return result;
}

int RunProcessWithTimeout(const wchar_t* applicationName, wchar_t* commandLine, int showCommand,
                          int noWaitFlag) {
    if (!applicationName && !commandLine) return -1;  // nothing to start
    STARTUPINFOW startup = StartupShowing(showCommand);
    startup.lpDesktop = kDefaultDesktop;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(applicationName, commandLine, nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started)) {
        return -1;
    }
    UniqueHandle process = OwnHandle(started.hProcess);
    UniqueHandle thread = OwnHandle(started.hThread);
    if (noWaitFlag == 1) return 0;

    // Each reading is followed by its pause before the code read is looked at.
    for (int reading = 1;; ++reading) {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process.get(), &code);
        Sleep(kReadingIntervalMs);
        if (reading >= kExitCodeReadings) {
            TerminateProcess(process.get(), 0);
            break;
        }
        if (code != STILL_ACTIVE) break;
    }
    return 0;
}

BOOL ShellRunAndWait(const wchar_t* file, const wchar_t* parameters, int showCommand) {
    HANDLE process = nullptr;
    BOOL result =
        ShellExecuteWith(nullptr, SEE_MASK_NOCLOSEPROCESS, file, parameters, showCommand, &process);
    UniqueHandle child = OwnHandle(process);
    if (child) WaitForSingleObject(child.get(), INFINITE);
    return result;
}

BOOL ShellOpen(const wchar_t* file, const wchar_t* parameters, int showCommand) {
    return ShellExecuteWith(L"open", 0, file, parameters, showCommand, nullptr);
}

int RunHiddenAndWait(wchar_t* commandLine) {
    return RunHidden(commandLine, 0, true);
}

int RunHiddenDetached(wchar_t* commandLine) {
    return RunHidden(commandLine, CREATE_NEW_PROCESS_GROUP, false);
}
