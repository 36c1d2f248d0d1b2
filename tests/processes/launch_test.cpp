#include "instutil/processes.h"

#include <atomic>
#include <string>
#include <thread>

#include "child_process_support.h"
#include "instutil/owners.h"
#include "test_support.h"

namespace {

// An event the children may inherit; the probe signals it through the handle value it is given.
UniqueHandle MakeInheritableEvent() {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    return OwnHandle(CreateEventW(&inherit, TRUE, FALSE, nullptr));
}

std::wstring HandleText(HANDLE handle) {
    return std::to_wstring(reinterpret_cast<ULONG_PTR>(handle));
}

bool IsSignalled(HANDLE event) {
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// Waits for the probe's report and returns it ("" when none came).
std::wstring ReadProbeReport(const std::wstring& path) {
    if (!WaitForFile(path, 10000)) return L"";
    std::string bytes = ReadBytes(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()),
                        bytes.size() / sizeof(wchar_t));
}

// Expects `start`, a start of `what` through the shell, to succeed, a start that Wine let die
// made again as any test's start is.
template <class Start>
void ExpectShellStart(Start start, const std::wstring& what) {
    if (!StartAllowingWineRestarts(start, what))
        ADD_FAILURE() << "the shell did not start " << Narrow(what) << ": " << GetLastError();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// RunProcessWithTimeout

using RunWithTimeout = ChildProcessTest;

TEST_F(RunWithTimeout, ChildIsSeenEndedAtTheFirstReadingAfterItsEndThenOnePause) {
    std::wstring line = Quoted(Child(L"sleep")) + L" 500";
    long long ended = -1;  // when the child ended, in milliseconds since the start
    Clock::time_point start = Clock::now();
    std::thread watcher([&] {
        UniqueHandle child = OpenNamedProcess(ChildName(L"sleep"), 10000);
        if (child && WaitForSingleObject(child.get(), 10000) == WAIT_OBJECT_0)
            ended = MillisecondsSince(start);
    });
    EXPECT_EQ(0, RunProcessWithTimeout(nullptr, &line[0], SW_HIDE, 0));
    long long elapsed = MillisecondsSince(start);
    watcher.join();

    // Readings come a second apart, the first at once; the first one after the child's end sees
    // it, and its own pause follows: the call ends one to two seconds after the child. When the
    // child ends (half a second after it starts, and its start may take a second when emulated)
    // decides which reading that is, so the bounds follow the end measured.
    ASSERT_GE(ended, 500) << "the child was not seen ending";
    EXPECT_GT(elapsed, ended + 850);
    EXPECT_LT(elapsed, ended + 2150);
}

TEST_F(RunWithTimeout, ChildThatNeverEndsIsTerminatedAfterTheThirtiethReading) {
    std::wstring program = Child(L"forever");
    UniqueHandle child = OwnHandle(nullptr);
    std::thread watcher([&] { child = OpenNamedProcess(ChildName(L"forever"), 10000); });

    Clock::time_point start = Clock::now();
    int result = RunProcessWithTimeout(program.c_str(), nullptr, SW_HIDE, 0);
    long long elapsed = MillisecondsSince(start);
    watcher.join();

    EXPECT_EQ(0, result);
    ASSERT_TRUE(child) << "the child was never seen running";
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.get(), 5000));
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(child.get(), &code);
    EXPECT_EQ(0u, code);
    // Thirty readings, each followed by a one-second pause; a 29th or 31st would be a second off.
    EXPECT_GE(elapsed, 29500);
    EXPECT_LT(elapsed, 30950);
}

TEST_F(RunWithTimeout, NoWaitFlagOneReturnsAtOnceAndLeavesTheChildRunning) {
    std::wstring line = Quoted(Child(L"forever"));
    Clock::time_point start = Clock::now();
    EXPECT_EQ(0, RunProcessWithTimeout(nullptr, &line[0], SW_HIDE, 1));
    EXPECT_LT(MillisecondsSince(start), 5000);

    UniqueHandle child = OpenNamedProcess(ChildName(L"forever"), 5000);
    ASSERT_TRUE(child);
    EXPECT_TRUE(StillRunningAfter(child.get(), 300));
}

TEST_F(RunWithTimeout, EveryOtherFlagValueWaits) {
    for (int flag : {0, 2, -1}) {
        std::wstring line = Quoted(Child(L"exit")) + L" 0";
        Clock::time_point start = Clock::now();
        EXPECT_EQ(0, RunProcessWithTimeout(nullptr, &line[0], SW_HIDE, flag));
        // Even a child that has ended by the first reading costs that reading's pause.
        EXPECT_GE(MillisecondsSince(start), 950) << "flag " << flag;
    }
}

TEST_F(RunWithTimeout, ProgramThatCannotBeStartedGivesMinusOne) {
    std::wstring missing = scratch_ + L"\\absent.exe";
    std::wstring line = Quoted(missing) + L" 1";
    Clock::time_point start = Clock::now();
    EXPECT_EQ(-1, RunProcessWithTimeout(missing.c_str(), nullptr, SW_HIDE, 0));
    EXPECT_EQ(-1, RunProcessWithTimeout(nullptr, &line[0], SW_HIDE, 0));
    EXPECT_EQ(-1, RunProcessWithTimeout(nullptr, nullptr, SW_HIDE, 0));
    EXPECT_LT(MillisecondsSince(start), 900) << "nothing should be waited for";
}

TEST_F(RunWithTimeout, ChildGetsTheShowCommandButNoHandles) {
    UniqueHandle event = MakeInheritableEvent();
    ASSERT_TRUE(event);
    std::wstring report = scratch_ + L"\\probe.txt";
    std::wstring line =
        Quoted(Child(L"probe")) + L" " + Quoted(report) + L" " + HandleText(event.get());
    // Only the low 16 bits of the show command count.
    EXPECT_EQ(0, RunProcessWithTimeout(nullptr, &line[0], 0x10000 | SW_SHOWMINNOACTIVE, 1));

    EXPECT_EQ(L"flags=1 show=7", ReadProbeReport(report));
    EXPECT_FALSE(IsSignalled(event.get()));
}

// ---------------------------------------------------------------------------------------------
// ShellRunAndWait and ShellOpen

using ShellLaunch = ChildProcessTest;

TEST_F(ShellLaunch, RunAndWaitReturnsAfterTheProgramEnded) {
    std::wstring marker = scratch_ + L"\\run";
    std::wstring parameters = L"800 " + Quoted(marker);
    const std::wstring child = Child(L"sleep");
    ExpectShellStart([&] { return ShellRunAndWait(child.c_str(), parameters.c_str(), SW_HIDE); },
                     child);
    EXPECT_TRUE(FileExists(marker + L".done"));
}

TEST_F(ShellLaunch, OpenReturnsWhileTheProgramRuns) {
    std::wstring marker = scratch_ + L"\\open";
    std::wstring parameters = L"3000 " + Quoted(marker);
    const std::wstring child = Child(L"sleep");
    ExpectShellStart([&] { return ShellOpen(child.c_str(), parameters.c_str(), SW_HIDE); }, child);
    EXPECT_FALSE(FileExists(marker + L".done"));
    EXPECT_FALSE(FindProcesses(ChildName(L"sleep")).empty());
}

// Registers a document type of the test's own whose "open" command is the sleeping child.
class ShellDocument : public ChildProcessTest {
protected:
    void SetUp() override {
        ChildProcessTest::SetUp();
        extension_ = L"." + tag_;
        progId_ = tag_ + L".document";
        std::wstring command = Quoted(Child(L"sleep")) + L" 1500 \"%1\"";
        ASSERT_EQ(ERROR_SUCCESS, SetClassValue(extension_, progId_));
        ASSERT_EQ(ERROR_SUCCESS, SetClassValue(progId_ + L"\\shell\\open\\command", command));
        document_ = scratch_ + L"\\report" + extension_;
        WriteBytes(document_, "text");
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, extension_.c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, extension_.c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, progId_.c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, progId_.c_str());
        ChildProcessTest::TearDown();
    }

    static LONG SetClassValue(const std::wstring& subkey, const std::wstring& value) {
        HKEY key = nullptr;
        LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr, 0,
                                      KEY_SET_VALUE, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) return status;
        UniqueHKey owner = OwnKey(key);
        return RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

    std::wstring extension_;
    std::wstring progId_;
    std::wstring document_;
};

TEST_F(ShellDocument, OpenStartsTheRegisteredProgramWithoutWaiting) {
    ExpectShellStart([&] { return ShellOpen(document_.c_str(), nullptr, SW_HIDE); }, document_);
    EXPECT_FALSE(FileExists(document_ + L".done"));
    // The program was handed the document: it marks it when it ends.
    EXPECT_TRUE(WaitForFile(document_ + L".done", 10000));
}

TEST_F(ShellDocument, RunAndWaitWaitsForTheRegisteredProgram) {
    ExpectShellStart([&] { return ShellRunAndWait(document_.c_str(), nullptr, SW_HIDE); },
                     document_);
    EXPECT_TRUE(FileExists(document_ + L".done"));
}

// ---------------------------------------------------------------------------------------------
// RunHiddenAndWait and RunHiddenDetached

using RunHidden = ChildProcessTest;

TEST_F(RunHidden, CommandThatCannotBeStartedGivesMinusOne) {
    std::wstring missing = Quoted(scratch_ + L"\\absent.exe") + L" 1";
    EXPECT_EQ(-1, RunHiddenAndWait(&missing[0]));
    EXPECT_EQ(-1, RunHiddenDetached(&missing[0]));
    EXPECT_EQ(-1, RunHiddenAndWait(nullptr));
    EXPECT_EQ(-1, RunHiddenDetached(nullptr));
}

TEST_F(RunHidden, AndWaitGivesNonzeroAfterTheChildEndedWhateverItsExitCode) {
    for (const wchar_t* code : {L"0", L"7", L"-1"}) {
        std::wstring line = Quoted(Child(L"exit")) + L" " + code;
        int result = RunHiddenAndWait(&line[0]);
        EXPECT_NE(0, result) << Narrow(code);
        EXPECT_NE(-1, result) << Narrow(code);
    }
    std::wstring marker = scratch_ + L"\\waited";
    std::wstring line = Quoted(Child(L"sleep")) + L" 700 " + Quoted(marker);
    EXPECT_NE(0, RunHiddenAndWait(&line[0]));
    EXPECT_TRUE(FileExists(marker + L".done"));
}

TEST_F(RunHidden, DetachedReturnsWhileTheChildRuns) {
    std::wstring marker = scratch_ + L"\\detached";
    std::wstring line = Quoted(Child(L"sleep")) + L" 3000 " + Quoted(marker);
    int result = RunHiddenDetached(&line[0]);
    EXPECT_NE(0, result);
    EXPECT_NE(-1, result);
    EXPECT_FALSE(FileExists(marker + L".done"));
    EXPECT_FALSE(FindProcesses(ChildName(L"sleep")).empty());
}

TEST_F(RunHidden, ChildIsHiddenAndInheritsHandles) {
    UniqueHandle event = MakeInheritableEvent();
    ASSERT_TRUE(event);
    std::wstring waited = scratch_ + L"\\waited.txt";
    std::wstring line =
        Quoted(Child(L"probe")) + L" " + Quoted(waited) + L" " + HandleText(event.get());
    EXPECT_NE(0, RunHiddenAndWait(&line[0]));
    EXPECT_EQ(L"flags=1 show=0", ReadProbeReport(waited));
    EXPECT_TRUE(IsSignalled(event.get()));

    ResetEvent(event.get());
    std::wstring detached = scratch_ + L"\\detached.txt";
    line = Quoted(Child(L"probe")) + L" " + Quoted(detached) + L" " + HandleText(event.get());
    EXPECT_NE(0, RunHiddenDetached(&line[0]));
    EXPECT_EQ(L"flags=1 show=0", ReadProbeReport(detached));
    EXPECT_TRUE(IsSignalled(event.get()));
}

// The shell must not put up a box of its own about the failure: nobody may be there to close it.
TEST_F(ShellLaunch, FailureReturnsZeroAndLeavesTheReasonWithoutABox) {
    std::wstring missing = scratch_ + L"\\absent.exe";
    bool boxShown = false;
    std::atomic<bool> done{false};
    std::thread closer([&] {
        while (!done) {
            if (HWND box = FindWindowW(L"#32770", nullptr)) {
                boxShown = true;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
            Sleep(20);
        }
    });
    SetLastError(0);
    EXPECT_EQ(FALSE, ShellRunAndWait(missing.c_str(), nullptr, SW_HIDE));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_EQ(FALSE, ShellOpen(missing.c_str(), nullptr, SW_HIDE));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    done = true;
    closer.join();
    EXPECT_FALSE(boxShown);
}
