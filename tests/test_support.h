// Helpers the test programs share: scratch folders, file contents, redirected Programs folders,
// a non-administrator token, starting programs, reading shortcuts back through the shell, and
// staged install trees.
// Everything runs against the real Windows APIs of the Wine prefix the suite runs in.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "instutil/shortcut_file.h"
#include "instutil/shortcuts.h"

// A new, empty folder under %TEMP%\instkit-tests, unique to this process and call.
std::wstring MakeScratchDir(const std::wstring& tag);
// Deletes a folder with everything in it (hidden and read-only entries included).
void RemoveTree(const std::wstring& path);
// Creates the folder and all its parents.
void MakeDirs(const std::wstring& path);

void WriteBytes(const std::wstring& path, const std::string& bytes);
// The file's bytes; `exists` (when given) tells whether it could be opened.
std::string ReadBytes(const std::wstring& path, bool* exists = nullptr);
bool FileExists(const std::wstring& path);
bool DirExists(const std::wstring& path);

// Every file and folder below `root`, as sorted relative paths; folders end in a backslash.
std::vector<std::wstring> ListTree(const std::wstring& root);

// The host path in the environment variable `name`, as Wine sees it (drive Z: is the host's
// root); empty when the variable is not set.
std::wstring HostPathFromEnvironment(const wchar_t* name);
// The folder of the running test program, with a trailing backslash.
std::wstring ThisProgramDir();
// For a test that writes beside its own program: the suites that run side by side on one build
// tree (in a 32-bit and in a 64-bit prefix) must not share those files. Runs the current test
// alone in a copy of this test program in a scratch folder of the suite's own prefix, and expects
// it to pass; true only in that copy, where the test goes on.
bool InOwnCopy();
// The built program `name` (add_shortcuts, remove_shortcuts) of this build tree, as seen from a
// test program in tests/<area>/.
std::wstring BuiltProgram(const std::wstring& name);
// A release file that sets the Start-menu folder name and the revision (UTF-8, as written).
std::string Relinfo(const std::string& folder, const std::string& revision);
// UTF-8 to UTF-16 and back, for messages and file contents.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);

// Reads and writes a REG_EXPAND_SZ/REG_SZ value; an empty result means absent.
std::wstring ReadRegString(HKEY root, const wchar_t* subkey, const wchar_t* name);
void WriteRegExpandString(HKEY root, const wchar_t* subkey, const wchar_t* name,
                          const std::wstring& value);
void DeleteRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name);

// A primary token of this process's user in which the Administrators group is deny-only, as for an
// administrator running without elevation; programs started with it keep it, also those whose
// manifest asks for the highest available rights. Caller closes it.
HANDLE MakeNonAdminToken();

// Calls `start`, a start of the program `what`, and returns what it returned, its error code left
// as the last error. Now and then Wine's own start-up of a child dies before any code of the
// program runs, and the start fails with ERROR_INTERNAL_ERROR (a program that fails to load gives
// its own code): such a start is made again, at most twice more, and each restart is added as a
// line to the host file named by INSTKIT_RESTART_LOG, which scripts/test.sh counts.
BOOL StartAllowingWineRestarts(const std::function<BOOL()>& start, const std::wstring& what);

// Starts `commandLine` (with `token` through CreateProcessAsUserW when given, in
// `currentDirectory` when given), waits up to `timeoutMs` and returns its exit code; STILL_ACTIVE
// when it did not end (it is then ended). Started through StartAllowingWineRestarts. With `output`,
// the program's standard output and error go to a scratch file whose bytes `output` receives.
DWORD RunProgram(const std::wstring& commandLine, HANDLE token = nullptr, DWORD timeoutMs = 60000,
                 const wchar_t* currentDirectory = nullptr, std::string* output = nullptr);

// Points this test program's import of `function` from kernel32.dll at `replacement` while it
// lives. The library is linked into the test program and calls through the same import, so a
// test can make it meet a system call's rarer outcomes.
class KernelImportPatch {
public:
    KernelImportPatch(const char* function, const void* replacement);
    ~KernelImportPatch();
    KernelImportPatch(const KernelImportPatch&) = delete;
    KernelImportPatch& operator=(const KernelImportPatch&) = delete;
    // What the import pointed at before, as a function of type F.
    template <class F>
    F original() const {
        return reinterpret_cast<F>(original_);
    }

private:
    void Write(void* value);
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

// The fields of a .lnk file, read back through the library's shell-link reader, with the show
// command taken from the file itself.
ShortcutFields ReadShortcut(const std::wstring& path);

// Points the per-user and the all-users Programs folders at scratch folders for the test and
// puts the previous values back afterwards.
class ProgramsFolderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::wstring scratch_;         // holds both Programs folders and anything else of the test
    std::wstring userPrograms_;    // what CSIDL_PROGRAMS now names
    std::wstring commonPrograms_;  // what CSIDL_COMMON_PROGRAMS now names

private:
    std::wstring savedUser_;
    std::wstring savedCommon_;
};

class InstallTreeTest : public ProgramsFolderTest {
protected:
    // An install root with the release file and both programs five levels below the root.
    void Stage(const std::string& relinfo) {
        root_ = scratch_ + L"\\Install Root";
        MakeDirs(root_ + L"\\commonfiles\\globalsettings");
        WriteBytes(root_ + L"\\commonfiles\\globalsettings\\relinfo.xml", relinfo);
        bin_ = root_ + L"\\KELDA\\bin\\winx64\\tools";
        MakeDirs(bin_);
        for (const wchar_t* name : {L"add_shortcuts", L"remove_shortcuts"}) {
            ASSERT_TRUE(CopyFileW(BuiltProgram(name).c_str(),
                                  (bin_ + L"\\" + name + L".exe").c_str(), FALSE))
                << Narrow(BuiltProgram(name));
        }
    }
    DWORD Run(const wchar_t* program, const std::wstring& arguments = L"", HANDLE token = nullptr) {
        std::wstring line = L"\"" + bin_ + L"\\" + program + L".exe\"" + arguments;
        return RunProgram(line, token);
    }
    std::wstring root_;
    std::wstring bin_;
};
