// What the process tests share: copies of the child programs under names unique to the running
// test, finding and ending processes by exact name, timing and waiting.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "instutil/owners.h"

// Process identifiers of every running process whose executable file name is `name` (compared
// without regard to case).
std::vector<DWORD> FindProcesses(const std::wstring& name);
// A handle (synchronize and query rights) on a process named `name`, waiting up to `timeoutMs`
// for one to appear; an empty owner when none did.
UniqueHandle OpenNamedProcess(const std::wstring& name, DWORD timeoutMs);
// Terminates every process whose file name starts with `prefix` (any case) and waits for each.
void EndProcessesStartingWith(const std::wstring& prefix);

// Starts `commandLine` visible-less and without inherited handles; the process handle, or an
// empty owner (with a test failure) when it could not be started.
UniqueHandle StartChild(const std::wstring& commandLine);
// True when `process` is still running after `ms` milliseconds.
bool StillRunningAfter(HANDLE process, DWORD ms);
// Waits up to `timeoutMs` for `path` to exist.
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);
// `path` in double quotes.
std::wstring Quoted(const std::wstring& path);

// Milliseconds since the stopwatch was started.
using Clock = std::chrono::steady_clock;
inline long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Gives each test a scratch folder and a tag unique to the test run ("zqp<pid>n<count>"), under
// which copies of the child programs are made. Every process whose name starts with the tag is
// ended afterwards, whatever the test's outcome, before the folder goes.
class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A copy of the child program zqproc_<kind>.exe in the scratch folder, named
    // <tag><suffix>.exe (suffix defaults to "_<kind>"); its full path.
    std::wstring Child(const std::wstring& kind, const std::wstring& suffix = L"");
    // The file name (no folder) of the copy that Child(kind, suffix) makes.
    std::wstring ChildName(const std::wstring& kind, const std::wstring& suffix = L"") const;

    std::wstring scratch_;  // no trailing backslash
    std::wstring tag_;
};
