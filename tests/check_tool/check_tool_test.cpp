// The support tool check_shortcuts on staged installs: what it says, its JSON, its exit code, and
// that it changes nothing.
#include "test_support.h"

#include <winioctl.h>

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "instutil/shortcuts.h"

namespace {

using nlohmann::json;

std::string Relinfo(const std::string& folder, const std::string& revision) {
    return "<r startMenuFolderName=\"" + folder + "\" startMenuShortcutAppendRevision=\"" +
           revision + "\"/>";
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Every file and folder below `root` with its attributes, last write time, size and a hash of
// its bytes.
std::vector<std::string> Snapshot(const std::wstring& root) {
    std::vector<std::string> entries;
    for (const std::wstring& relative : ListTree(root)) {
        std::wstring path = root + L"\\" + relative;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
        std::string entry = Narrow(relative) + "|" + std::to_string(data.dwFileAttributes) + "|" +
                            std::to_string(data.ftLastWriteTime.dwHighDateTime) + ":" +
                            std::to_string(data.ftLastWriteTime.dwLowDateTime);
        if (relative.back() != L'\\') {
            std::string bytes = ReadBytes(path);
            entry += "|" + std::to_string(bytes.size()) + "|" +
                     std::to_string(std::hash<std::string>()(bytes));
        }
        entries.push_back(entry);
    }
    return entries;
}

class CheckToolTest : public InstallTreeTest {
protected:
    std::wstring Tool() {
        return L"\"" + ThisProgramDir() + L"..\\..\\tools\\check_shortcuts.exe\"";
    }
    // Runs the tool on the staged add_shortcuts.exe; `output` receives what it prints.
    DWORD Check(std::string* output, HANDLE token = nullptr, const std::wstring& options = L"") {
        return RunProgram(Tool() + options + L" \"" + bin_ + L"\\add_shortcuts.exe\"", token, 60000,
                          nullptr, output);
    }
    // The JSON report, parsed; a report that does not parse fails the test.
    json CheckJson(DWORD* exitCode) {
        std::string out;
        *exitCode = Check(&out, nullptr, L" --json");
        json parsed = json::parse(out, nullptr, false);
        EXPECT_FALSE(parsed.is_discarded()) << out;
        return parsed;
    }
    // The programs the shortcuts start.
    void StageTargets() {
        for (const char* name : {"vxstart", "vxmotion", "vxplot", "KLD_ADMIN"}) {
            WriteBytes(root_ + L"\\KELDA\\bin\\winx64\\" + Widen(name) + L".exe", "x");
        }
    }
    std::wstring Suite() { return commonPrograms_ + L"\\Vortasim 18\\"; }
    // Writes the suite's "Vortasim" shortcut again, as add_shortcuts does, with `target` and
    // `arguments` instead of its own.
    void RewriteVortasim(const std::wstring& target, const wchar_t* arguments) {
        ASSERT_EQ(CreateShortcutFile((Suite() + L"Vortasim 18.1.lnk").c_str(), target.c_str(),
                                     arguments, L"%HOMEDRIVE%%HOMEPATH%", L"Start VSL Now",
                                     (root_ + L"\\commonfiles\\images\\VxHub2_iconSet.ico").c_str(),
                                     0, SW_SHOWNORMAL),
                  S_OK);
    }
    std::wstring Target(const wchar_t* name) { return root_ + L"\\KELDA\\bin\\winx64\\" + name; }
};

}  // namespace

TEST_F(CheckToolTest, AHealthyInstallPassesAndNothingChanges) {
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    std::vector<std::string> before = Snapshot(scratch_);

    std::string out;
    EXPECT_EQ(Check(&out), 0u) << out;
    EXPECT_NE(out.find("install root  " + Narrow(root_) + " "), std::string::npos) << out;
    EXPECT_EQ(Count(out, "\n  present  Vortasim 18\\"), 5u) << out;
    EXPECT_NE(out.find("present  Vortasim 18\\Utilities\\KLD_ADMIN 18.1.lnk\n           -> " +
                       Narrow(root_) + "\\KELDA\\bin\\winx64\\KLD_ADMIN.exe  (exists)\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Leftovers\n  none\n\nResult: all well"), std::string::npos) << out;

    DWORD code = 0;
    json report = CheckJson(&code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(report["ok"], true);
    EXPECT_EQ(report["program"]["installRoot"], Narrow(root_));
    EXPECT_EQ(report["releaseFile"]["folderName"]["value"], "Vortasim 18");
    const json& shortcuts = report["programsFolders"][0]["shortcuts"];
    ASSERT_EQ(shortcuts.size(), 5u);
    for (const json& shortcut : shortcuts) {
        EXPECT_EQ(shortcut["present"], true);
        EXPECT_EQ(shortcut["targetExists"], true);
        EXPECT_EQ(shortcut["fields"].size(), 5u);
        for (const auto& field : shortcut["fields"].items()) {
            EXPECT_EQ(field.value()["match"], "same") << field.key();
        }
    }
    EXPECT_EQ(shortcuts[1]["fields"]["arguments"]["actual"], "-runxs");
    EXPECT_EQ(Snapshot(scratch_), before);
}

TEST_F(CheckToolTest, UsageErrorsExitWithTwo) {
    Stage(Relinfo("S", "1"));
    std::string out;
    EXPECT_EQ(RunProgram(Tool(), nullptr, 60000, nullptr, &out), 2u);
    EXPECT_NE(out.find("usage: check_shortcuts"), std::string::npos) << out;
    EXPECT_EQ(RunProgram(Tool() + L" a.exe b.exe"), 2u);
    EXPECT_EQ(RunProgram(Tool() + L" --verbose a.exe"), 2u);
    EXPECT_EQ(RunProgram(Tool() + L" \"" + bin_ + L"\""), 2u);
}

TEST_F(CheckToolTest, ItsManifestRunsItAsTheInvoker) {
    std::wstring tool = ThisProgramDir() + L"..\\..\\tools\\check_shortcuts.exe";
    HMODULE module = LoadLibraryExW(tool.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(resource, nullptr);
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, resource))),
                         SizeofResource(module, resource));
    FreeLibrary(module);
    EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("{e2011457-1546-43c5-a5fe-008deee3d3f0}"), std::string::npos);
    EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);
}

TEST_F(CheckToolTest, UnusablePathsAreNamed) {
    // Too shallow at 519 characters; at 520, too long for the programs to use at all.
    const std::wstring name = L"\\add_shortcuts.exe";
    std::wstring shallow = L"C:\\" + std::wstring(519 - 3 - name.size(), L'a') + name;
    std::string out;
    EXPECT_EQ(RunProgram(Tool() + L" " + shallow, nullptr, 60000, nullptr, &out), 1u) << out;
    EXPECT_NE(out.find("The program lies 2 levels below \"C:\\\", not five"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("characters; the programs cannot use"), std::string::npos) << out;

    EXPECT_EQ(RunProgram(Tool() + L" C:\\a" + shallow.substr(3), nullptr, 60000, nullptr, &out),
              1u);
    EXPECT_NE(out.find("has 520 characters; the programs cannot use a path of 520 or more"),
              std::string::npos)
        << out;
}

TEST_F(CheckToolTest, AMissingReleaseFileIsReported) {
    Stage("");
    DeleteFileW((root_ + L"\\commonfiles\\globalsettings\\relinfo.xml").c_str());
    StageTargets();
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);

    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_NE(out.find("  file          NOT FOUND\n"), std::string::npos) << out;
    EXPECT_NE(out.find("relinfo.xml is not there: the programs read no folder name"),
              std::string::npos)
        << out;
    // The programs then write to the top of the Programs folder, which the tool follows.
    EXPECT_NE(out.find("present  Vortasim Product Launcher.lnk\n"), std::string::npos) << out;
}

TEST_F(CheckToolTest, AHugeReleaseFileIsReportedWithoutReadingIt) {
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    // 2 GiB, sparse: the programs cannot allocate it; the tool must not try.
    std::wstring file = root_ + L"\\commonfiles\\globalsettings\\relinfo.xml";
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD returned = 0;
    DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 2147483648LL;
    ASSERT_TRUE(SetFilePointerEx(handle, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(handle));
    CloseHandle(handle);

    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_NE(out.find("  file          NOT READ: 2147483648 bytes\n"), std::string::npos) << out;
    EXPECT_NE(out.find("relinfo.xml holds 2147483648 bytes; this tool reads no more than 67108864"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("they end with exit code 3 and write and delete nothing."),
              std::string::npos)
        << out;
    // The installed shortcuts are listed, but not judged against values nobody read.
    EXPECT_EQ(Count(out, "(not judged: relinfo.xml was not read)"), 5u) << out;
    EXPECT_NE(out.find("Result: 1 problem"), std::string::npos) << out;
    // What the tool says of the shipped, 32-bit programs.
    if (sizeof(void*) == 4) {
        EXPECT_EQ(Run(L"remove_shortcuts"), 3u);
    }
    DWORD code = 0;
    json report = CheckJson(&code);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(report["releaseFile"]["size"], 2147483648ull);
    EXPECT_EQ(report["releaseFile"]["read"], false);
    EXPECT_EQ(report["problems"][0]["kind"], "releaseFileTooLarge");
    DeleteFileW(file.c_str());
}

TEST_F(CheckToolTest, RefusedValuesAreExplainedAndShownEscapedAndBounded) {
    Stage(Relinfo("..\\..\\Startup", "18.1"));
    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_NE(out.find("\"..\\..\\Startup\"  REFUSED: it has the component \"..\""),
              std::string::npos)
        << out;

    // A folder name that would drive a terminal, and a long revision with a backslash.
    const std::string folder =
        "S\x1b]0;owned\x07\xc2\x9b"
        "2J\"";
    const std::string revision = std::string(5000, 'r') + "\\";
    Stage("<r startMenuFolderName=\"" + folder + " startMenuShortcutAppendRevision=\"" + revision +
          "\"/>");
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_NE(out.find("\"S<U+001B>]0;owned<U+0007><U+009B>2J\"  REFUSED: it holds \"<U+001B>\""),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("...(4841 more characters)\"  REFUSED: it holds \"\\\" (U+005C)"),
              std::string::npos)
        << out;
    for (char c : out) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << out;
    EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos) << out;
    EXPECT_EQ(out.find(std::string(161, 'r')), std::string::npos);

    // As data: the values as they are, the long one cut and marked so.
    DWORD code = 0;
    json report = CheckJson(&code);
    EXPECT_EQ(code, 1u);
    const json& values = report["releaseFile"];
    EXPECT_EQ(values["folderName"]["value"], folder.substr(0, folder.size() - 1));
    EXPECT_EQ(values["folderName"]["cut"], false);
    EXPECT_EQ(values["folderName"]["refusal"], "forbiddenCharacter");
    EXPECT_EQ(values["folderName"]["character"], "\x1b");
    EXPECT_EQ(values["revision"]["value"], std::string(4096, 'r'));
    EXPECT_EQ(values["revision"]["cut"], true);
    EXPECT_EQ(values["revision"]["length"], 5001);
    EXPECT_EQ(values["revision"]["character"], "\\");
}

TEST_F(CheckToolTest, ChangedFieldsAreNamedAndOtherSpellingsAccepted) {
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);

    // The launcher's arguments changed.
    RewriteVortasim(Target(L"vxstart.exe"), L"-runxs -debug");
    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_NE(out.find("present  Vortasim 18\\Vortasim 18.1.lnk\n           -> " +
                       Narrow(Target(L"vxstart.exe")) +
                       "  (exists)\n           arguments         \"-runxs -debug\"  (NOT this "
                       "install's: \"-runxs\")\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Vortasim 18.1.lnk has the arguments \"-runxs -debug\", not this install's "
                       "\"-runxs\".\n\nResult: 1 problem"),
              std::string::npos)
        << out;
    DWORD code = 0;
    json report = CheckJson(&code);
    EXPECT_EQ(report["problems"][0]["kind"], "fieldDiffers");
    EXPECT_EQ(report["problems"][0]["field"]["arguments"]["actual"], "-runxs -debug");

    // The right file by its short name: accepted.
    wchar_t shortName[MAX_PATH] = L"";
    ASSERT_GT(GetShortPathNameW(Target(L"vxstart.exe").c_str(), shortName, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(shortName), Target(L"vxstart.exe"));
    RewriteVortasim(shortName, L"-runxs");
    EXPECT_EQ(Check(&out), 0u) << out;
    EXPECT_NE(
        out.find("-> " + Narrow(shortName) + "  (exists; another spelling of this install's " +
                 Narrow(Target(L"vxstart.exe")) + ")\n"),
        std::string::npos)
        << out;
}

TEST_F(CheckToolTest, ANetworkTargetIsNotLookedAt) {
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    RewriteVortasim(L"\\\\testhost\\share\\vxstart.exe", L"-runxs");

    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_NE(out.find("-> \\\\testhost\\share\\vxstart.exe  (not local, not looked at; not this "
                       "install's: " +
                       Narrow(Target(L"vxstart.exe")) + ")\n"),
              std::string::npos)
        << out;
    EXPECT_NE(
        out.find("points at \\\\testhost\\share\\vxstart.exe, not at this install's " +
                 Narrow(Target(L"vxstart.exe")) + " (a path that is not local: not looked at)."),
        std::string::npos)
        << out;
}

TEST_F(CheckToolTest, ShortcutsOfTheOtherKindOfRunAreFoundAndExplained) {
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    HANDLE token = MakeNonAdminToken();
    ASSERT_NE(token, nullptr);

    // Installed without administrator rights, checked by an administrator.
    ASSERT_EQ(Run(L"add_shortcuts", L"", token), 0u);
    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_NE(out.find("5 of the 5 shortcuts are missing from the all-users Programs folder, the "
                       "one this account's run uses. 5 of them are in the per-user folder, where "
                       "a run without administrator rights puts them. This account passes the "
                       "administrator check"),
              std::string::npos)
        << out;

    // Installed by an administrator, checked without administrator rights.
    ASSERT_EQ(Run(L"remove_shortcuts", L"", token), 0u);
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_EQ(Check(&out, token), 1u) << out;
    EXPECT_NE(out.find("5 of the 5 shortcuts are missing from the per-user Programs folder, the "
                       "one this account's run uses. 5 of them are in the all-users folder, where "
                       "a run with administrator rights puts them. This account does not pass the "
                       "administrator check"),
              std::string::npos)
        << out;
    CloseHandle(token);
}

TEST_F(CheckToolTest, AnUpgradesStaleShortcutsAreListed) {
    // 18.0 installed, then 18.1 over it without removing 18.0's shortcuts; an emptied folder of an
    // older release beside them.
    Stage(Relinfo("Vortasim 18", "18.0"));
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    MakeDirs(commonPrograms_ + L"\\Vortasim 17\\Utilities");

    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    for (const char* stale :
         {"Vortasim Product Launcher 18.0.lnk", "Vortasim 18.0.lnk", "Utilities\\Motion 18.0.lnk",
          "Utilities\\Plotview 18.0.lnk", "Utilities\\KLD_ADMIN 18.0.lnk"}) {
        EXPECT_NE(
            out.find("  " + Narrow(Suite()) + stale + "\n           another revision: \"18.0\"\n"),
            std::string::npos)
            << stale << "\n"
            << out;
    }
    EXPECT_EQ(Count(out, "another revision"), 5u) << out;
    EXPECT_NE(out.find(Narrow(commonPrograms_) +
                       "\\Vortasim 17\\\n           a folder of the suite's shape without files"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("5 leftovers"), std::string::npos) << out;
}

TEST_F(CheckToolTest, InvisibleCharactersInALeftoversNameAreShown) {
    // An earlier install under a folder name with a soft hyphen, which looks like the current one.
    Stage(Relinfo("Vortasim\xc2\xad 18", "18.1"));
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);

    std::string out;
    EXPECT_EQ(Check(&out), 1u) << out;
    EXPECT_EQ(Count(out, "another folder name: \"Vortasim<U+00AD> 18\"\n"), 5u) << out;
    EXPECT_NE(out.find(Narrow(commonPrograms_) + "\\Vortasim<U+00AD> 18\\Vortasim 18.1.lnk\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("\xc2\xad"), std::string::npos) << out;
}

TEST_F(CheckToolTest, EmptyFoldersOfOtherProgramsAreNoProblem) {
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    ASSERT_EQ(Run(L"add_shortcuts"), 0u);
    MakeDirs(commonPrograms_ + L"\\Other Vendor\\Tools\\Utilities");
    MakeDirs(userPrograms_ + L"\\Another\\Utilities");
    WriteBytes(userPrograms_ + L"\\Another\\readme.txt", "x");

    std::string out;
    EXPECT_EQ(Check(&out), 0u) << out;
    EXPECT_NE(out.find(Narrow(commonPrograms_) +
                       "\\Other Vendor\\Tools\\\n           a folder "
                       "of the suite's shape without files (it may be another program's)"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Another"), std::string::npos) << out;
    EXPECT_NE(out.find("Note: 1 empty folders of the suite's shape"), std::string::npos) << out;
}
