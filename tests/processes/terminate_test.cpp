#include "instutil/processes.h"

#include <cwctype>
#include <string>

#include "child_process_support.h"
#include "test_support.h"

using TerminateByName = ChildProcessTest;

namespace {

DWORD ExitCodeOf(HANDLE process) {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}

// OpenProcess as it behaves when a listed process has ended and its identifier has gone to
// another process: asked for `listed`, it opens `successor`.
struct ReusedIdentifier {
    static DWORD listed;
    static DWORD successor;
    static decltype(&OpenProcess) realOpenProcess;

    static HANDLE WINAPI Open(DWORD access, BOOL inherit, DWORD id) {
        return realOpenProcess(access, inherit, id == listed ? successor : id);
    }
};
DWORD ReusedIdentifier::listed = 0;
DWORD ReusedIdentifier::successor = 0;
decltype(&OpenProcess) ReusedIdentifier::realOpenProcess = nullptr;

}  // namespace

TEST_F(TerminateByName, EndsEveryChildWhoseNameContainsThePattern) {
    UniqueHandle first = StartChild(Quoted(Child(L"forever", L"_alpha1")));
    UniqueHandle second = StartChild(Quoted(Child(L"forever", L"_alpha2")));
    UniqueHandle other = StartChild(Quoted(Child(L"forever", L"_beta")));
    ASSERT_TRUE(first && second && other);
    ASSERT_FALSE(FindProcesses(ChildName(L"forever", L"_alpha2")).empty());

    // Inside the name, not at its start.
    std::wstring pattern = tag_.substr(2) + L"_alpha";
    EXPECT_EQ(1, TerminateProcessesByName(pattern.c_str()));

    for (HANDLE ended : {first.get(), second.get()}) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ended, 5000));
        EXPECT_EQ(0u, ExitCodeOf(ended));
    }
    EXPECT_TRUE(StillRunningAfter(other.get(), 200));
}

TEST_F(TerminateByName, NeverEndsTheCallerEvenWhenItsNameMatches) {
    UniqueHandle child = StartChild(Quoted(Child(L"forever")));
    ASSERT_TRUE(child);
    std::wstring terminator = Child(L"terminator");

    // The terminator's own name and the child's both contain the tag. It exits with 10 + the
    // result if it survives; a terminated process would exit with 0.
    EXPECT_EQ(11u, RunProgram(Quoted(terminator) + L" " + tag_, nullptr, 20000));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.get(), 5000));
}

TEST_F(TerminateByName, ComparesWithCaseAndReportsSuccessWhenNothingMatches) {
    std::wstring capitals = tag_ + L"_SHOUTING.EXE";
    for (wchar_t& c : capitals) c = towupper(c);
    std::wstring copy = scratch_ + L"\\" + capitals;
    ASSERT_TRUE(CopyFileW(Child(L"forever").c_str(), copy.c_str(), TRUE));
    UniqueHandle child = StartChild(Quoted(copy));
    ASSERT_TRUE(child);

    std::wstring lower = tag_ + L"_shouting";
    EXPECT_EQ(1, TerminateProcessesByName(lower.c_str()));
    EXPECT_TRUE(StillRunningAfter(child.get(), 200));

    std::wstring upper = capitals.substr(0, capitals.size() - 4);
    EXPECT_EQ(1, TerminateProcessesByName(upper.c_str()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.get(), 5000));
}

TEST_F(TerminateByName, EmptyOrNullPatternEndsNothing) {
    UniqueHandle child = StartChild(Quoted(Child(L"forever")));
    ASSERT_TRUE(child);

    EXPECT_EQ(0, TerminateProcessesByName(L""));
    EXPECT_EQ(0, TerminateProcessesByName(nullptr));
    EXPECT_TRUE(StillRunningAfter(child.get(), 200));
}

TEST_F(TerminateByName, EndsNoSuccessorThatTookTheIdentifierOfAMatch) {
    UniqueHandle listed = StartChild(Quoted(Child(L"forever", L"_alpha")));
    UniqueHandle successor = StartChild(Quoted(Child(L"forever", L"_beta")));
    ASSERT_TRUE(listed && successor);
    ASSERT_FALSE(FindProcesses(ChildName(L"forever", L"_alpha")).empty());
    ReusedIdentifier::listed = GetProcessId(listed.get());
    ReusedIdentifier::successor = GetProcessId(successor.get());

    std::wstring pattern = tag_ + L"_alpha";
    {
        KernelImportPatch patch("OpenProcess",
                                reinterpret_cast<const void*>(&ReusedIdentifier::Open));
        ReusedIdentifier::realOpenProcess = patch.original<decltype(&OpenProcess)>();
        // Skipped, as a process that cannot be opened is: the result stays 1.
        EXPECT_EQ(1, TerminateProcessesByName(pattern.c_str()));
    }
    EXPECT_TRUE(StillRunningAfter(successor.get(), 200));

    // Once the identifier leads to the match again, the match is ended.
    EXPECT_EQ(1, TerminateProcessesByName(pattern.c_str()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(listed.get(), 5000));
    EXPECT_TRUE(StillRunningAfter(successor.get(), 200));
}
