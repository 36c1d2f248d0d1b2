#include "child_process_support.h"

#include <tlhelp32.h>

#include "test_support.h"

#include <cwchar>

namespace {

// Calls `visit` for each process in a fresh snapshot.
template <typename Visit>
void ForEachProcess(Visit visit) {
    UniqueHandle snapshot = OwnHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    ASSERT_TRUE(snapshot) << "no process snapshot: " << GetLastError();
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        visit(entry);
    }
}

}  // namespace

std::vector<DWORD> FindProcesses(const std::wstring& name) {
    std::vector<DWORD> found;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (_wcsicmp(entry.szExeFile, name.c_str()) == 0) found.push_back(entry.th32ProcessID);
    });
    return found;
}

UniqueHandle OpenNamedProcess(const std::wstring& name, DWORD timeoutMs) {
    Clock::time_point start = Clock::now();
    for (;;) {
        for (DWORD id : FindProcesses(name)) {
            UniqueHandle process = OwnHandle(OpenProcess(
                SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, id));
            if (process) return process;
        }
        if (MillisecondsSince(start) > timeoutMs) return OwnHandle(nullptr);
        Sleep(10);
    }
}

void EndProcessesStartingWith(const std::wstring& prefix) {
    std::vector<DWORD> found;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (_wcsnicmp(entry.szExeFile, prefix.c_str(), prefix.size()) == 0) {
            found.push_back(entry.th32ProcessID);
        }
    });
    for (DWORD id : found) {
        UniqueHandle process = OwnHandle(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
        if (!process) continue;
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
}

UniqueHandle StartChild(const std::wstring& commandLine) {
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        ADD_FAILURE() << "cannot start " << Narrow(commandLine) << ": " << GetLastError();
        return OwnHandle(nullptr);
    }
    CloseHandle(info.hThread);
    return OwnHandle(info.hProcess);
}

bool StillRunningAfter(HANDLE process, DWORD ms) {
    return process && WaitForSingleObject(process, ms) == WAIT_TIMEOUT;
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    Clock::time_point start = Clock::now();
    for (;;) {
        if (FileExists(path)) return true;
        if (MillisecondsSince(start) > timeoutMs) return false;
        Sleep(20);
    }
}

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

void ChildProcessTest::SetUp() {
    static int count = 0;
    tag_ = L"zqp" + std::to_wstring(GetCurrentProcessId()) + L"n" + std::to_wstring(++count);
    scratch_ = MakeScratchDir(L"processes");
}

void ChildProcessTest::TearDown() {
    EndProcessesStartingWith(tag_);
    RemoveTree(scratch_);
}

std::wstring ChildProcessTest::ChildName(const std::wstring& kind,
                                         const std::wstring& suffix) const {
    return tag_ + (suffix.empty() ? L"_" + kind : suffix) + L".exe";
}

std::wstring ChildProcessTest::Child(const std::wstring& kind, const std::wstring& suffix) {
    std::wstring copy = scratch_ + L"\\" + ChildName(kind, suffix);
    if (!FileExists(copy)) {
        std::wstring original = ThisProgramDir() + L"zqproc_" + kind + L".exe";
        EXPECT_TRUE(CopyFileW(original.c_str(), copy.c_str(), TRUE))
            << "cannot copy " << Narrow(original) << ": " << GetLastError();
    }
    return copy;
}
