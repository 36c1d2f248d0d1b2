// The support tool check_shortcuts on staged installs: its checks and leftover search run in this
// process against the tool's core and are judged by the kinds of finding (the JSON "kind");
// whole runs of the tool show its exit codes, its manifest, its text and JSON, and that it
// changes nothing.
#include "test_support.h"

#include <winioctl.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "checks.h"
#include "report.h"
#include "suite/suite.h"

namespace {

using nlohmann::json;

// The kinds of the report's findings of `severity`, in order (leftovers: every one listed).
std::vector<std::string> Kinds(const Report& report, Severity severity) {
    std::vector<std::string> kinds;
    for (const Finding& found : report.findings) {
        if (found.kind->severity == severity) kinds.push_back(found.kind->name);
    }
    return kinds;
}
using Names = std::vector<std::string>;

// The first finding of `kind`; a report without one fails the test.
const Finding& The(const Report& report, const FindingKind& kind) {
    for (const Finding& found : report.findings) {
        if (found.kind == &kind) return found;
    }
    ADD_FAILURE() << "no finding " << kind.name;
    static const Finding none;
    return none;
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
    DWORD Check(std::string* output, const std::wstring& options = L"") {
        return RunProgram(Tool() + options + L" \"" + bin_ + L"\\add_shortcuts.exe\"", nullptr,
                          60000, nullptr, output);
    }
    // The checks on the staged add_shortcuts.exe, in this process.
    Report CheckHere() { return CheckInstall(bin_ + L"\\add_shortcuts.exe"); }
    // The programs the shortcuts start.
    void StageTargets() {
        for (const char* name : {"vxstart", "vxmotion", "vxplot", "KLD_ADMIN"}) {
            WriteBytes(root_ + L"\\KELDA\\bin\\winx64\\" + Widen(name) + L".exe", "x");
        }
    }
    // A staged install whose five shortcuts add_shortcuts has written.
    void Install(const std::string& folder = "Vortasim 18", const std::string& revision = "18.1") {
        Stage(Relinfo(folder, revision));
        StageTargets();
        Run(L"add_shortcuts");
        ASSERT_TRUE(FileExists(Suite() + L"Vortasim 18.1.lnk"));
    }
    std::wstring Suite() { return commonPrograms_ + L"\\Vortasim 18\\"; }
    // Writes the suite's "Vortasim" shortcut again, as add_shortcuts does, with `target` and
    // `arguments` instead of its own.
    void RewriteVortasim(const std::wstring& target, const wchar_t* arguments) {
        ASSERT_EQ(CreateShortcutFile((Suite() + L"Vortasim 18.1.lnk").c_str(), target.c_str(),
                                     arguments, kWorkingDirectory, L"Start VSL Now",
                                     (root_ + kIconFile).c_str(), 0, SW_SHOWNORMAL),
                  S_OK);
    }
    std::wstring Target(const wchar_t* name) { return root_ + L"\\KELDA\\bin\\winx64\\" + name; }
};

}  // namespace

TEST_F(CheckToolTest, AHealthyInstallPassesAndNothingChanges) {
    Install();
    std::vector<std::string> before = Snapshot(scratch_);

    // The text for a person.
    std::string out;
    EXPECT_EQ(Check(&out), 0u) << out;
    EXPECT_NE(out.find("  present  Vortasim 18\\Utilities\\KLD_ADMIN 18.1.lnk\n           -> " +
                       Narrow(root_) + "\\KELDA\\bin\\winx64\\KLD_ADMIN.exe  (exists)\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Leftovers\n  none\n\nResult: all well"), std::string::npos) << out;

    // The JSON, read back with a real parser.
    EXPECT_EQ(Check(&out, L" --json"), 0u);
    json report = json::parse(out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << out;
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
    EXPECT_EQ(report["problems"].size() + report["notes"].size() + report["leftovers"].size(), 0u);
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

TEST_F(CheckToolTest, ProgramsPlacedTooShallowOrTooLongDoNothing) {
    // Two levels below the drive root, 519 characters: too shallow; the release file at the drive
    // root is not even looked for.
    const std::wstring name = L"\\add_shortcuts.exe";
    const std::wstring shallow = L"C:\\" + std::wstring(519 - 3 - name.size(), L'a') + name;
    Report report = CheckInstall(shallow);
    EXPECT_EQ(Kinds(report, Severity::kProblem), (Names{"programMissing", "tooShallow"}));
    EXPECT_EQ(The(report, finding::kTooShallow).count, 2u);
    EXPECT_TRUE(report.tooShallow);
    EXPECT_TRUE(report.releaseFile.empty());
    EXPECT_FALSE(report.writes);
    EXPECT_NE(Sentence(The(report, finding::kTooShallow), true)
                  .find(L"below the drive root C:\\, fewer than 5: from there the programs do "
                        L"nothing at all"),
              std::wstring::npos)
        << Narrow(Sentence(The(report, finding::kTooShallow), true));

    // At 520 characters, too long for the programs to use at all.
    report = CheckInstall(L"C:\\a" + shallow.substr(3));
    EXPECT_EQ(Kinds(report, Severity::kProblem), (Names{"programMissing", "programPathTooLong"}));
    EXPECT_EQ(The(report, finding::kPathTooLong).count, 520u);

    // A suite installed at a drive's root, exactly five levels deep, is a usable layout.
    report = CheckInstall(L"C:\\KELDA\\bin\\winx64\\installer\\add_shortcuts.exe");
    EXPECT_FALSE(report.tooShallow);
    EXPECT_TRUE(report.layoutOk);
    EXPECT_EQ(report.levels, 5u);
    EXPECT_FALSE(report.releaseFile.empty());
}

TEST_F(CheckToolTest, AMissingReleaseFileIsReported) {
    Stage("");
    DeleteFileW((root_ + L"\\commonfiles\\globalsettings\\relinfo.xml").c_str());
    StageTargets();
    Run(L"add_shortcuts");

    Report report = CheckHere();
    EXPECT_EQ(Kinds(report, Severity::kProblem), Names{"releaseFileMissing"});
    // The programs then write to the top of the Programs folder, which the tool follows.
    const ShortcutCheck& launcher = report.folders[0].shortcuts.at(0);
    EXPECT_EQ(launcher.path, commonPrograms_ + L"\\Vortasim Product Launcher.lnk");
    EXPECT_TRUE(launcher.present);
}

TEST_F(CheckToolTest, AHugeReleaseFileIsReportedWithoutReadingIt) {
    Install();
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

    Report report = CheckHere();
    EXPECT_EQ(Kinds(report, Severity::kProblem), Names{"releaseFileTooLarge"});
    EXPECT_EQ(report.releaseSize, 2147483648ull);
    EXPECT_FALSE(report.releaseRead);
    // The installed shortcuts are listed, but not judged against values nobody read.
    EXPECT_EQ(Kinds(report, Severity::kLeftover), Names(5, "suiteShortcut"));
    EXPECT_EQ(CountOf(report, Severity::kLeftover), 0u);
    // What the tool says of the shipped, 32-bit programs.
    if (sizeof(void*) == 4) {
        EXPECT_EQ(Run(L"remove_shortcuts"), 3u);
    }
    DeleteFileW(file.c_str());
}

TEST_F(CheckToolTest, RefusedValuesAreExplainedAndShownEscapedAndBounded) {
    Stage(Relinfo("..\\..\\Startup", "18.1"));
    Report report = CheckHere();
    EXPECT_EQ(Kinds(report, Severity::kProblem), Names{"folderNameRefused"});
    EXPECT_EQ(report.folder.check.refusal, NameRefusal::kDotComponent);

    // A folder name that would drive a terminal, and a long revision with a backslash.
    const std::string folder =
        "S\x1b]0;owned\x07\xc2\x9b"
        "2J\"";
    const std::string revision = std::string(5000, 'r') + "\\";
    Stage("<r startMenuFolderName=\"" + folder + " startMenuShortcutAppendRevision=\"" + revision +
          "\"/>");
    report = CheckHere();
    EXPECT_EQ(Kinds(report, Severity::kProblem), (Names{"folderNameRefused", "revisionRefused"}));
    // For a person: escaped and bounded, on one line each.
    std::wstring text = TextReport(report);
    EXPECT_NE(text.find(L"\"S<U+001B>]0;owned<U+0007><U+009B>2J\"  REFUSED: it holds \"<U+001B>\""),
              std::wstring::npos)
        << Narrow(text);
    EXPECT_NE(text.find(L"...(4841 more characters)\"  REFUSED: it holds \"\\\" (U+005C)"),
              std::wstring::npos)
        << Narrow(text);
    for (wchar_t c : text) EXPECT_TRUE(c == L'\n' || (c >= 0x20 && c < 0x7F)) << Narrow(text);
    EXPECT_EQ(text.find(std::wstring(161, L'r')), std::wstring::npos);

    // As data: the values as they are, the long one cut and marked so.
    json values = json::parse(Narrow(JsonReport(report)))["releaseFile"];
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
    Install();
    // The launcher's arguments changed.
    RewriteVortasim(Target(L"vxstart.exe"), L"-runxs -debug");
    Report report = CheckHere();
    EXPECT_EQ(Kinds(report, Severity::kProblem), Names{"fieldDiffers"});
    const Finding& differs = The(report, finding::kFieldDiffers);
    EXPECT_EQ(differs.path, Suite() + L"Vortasim 18.1.lnk");
    EXPECT_STREQ(differs.field.name, L"arguments");
    EXPECT_EQ(differs.field.actual, L"-runxs -debug");
    EXPECT_EQ(differs.field.expected, L"-runxs");

    // The right file by its short name: accepted.
    wchar_t shortName[MAX_PATH] = L"";
    ASSERT_GT(GetShortPathNameW(Target(L"vxstart.exe").c_str(), shortName, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(shortName), Target(L"vxstart.exe"));
    RewriteVortasim(shortName, L"-runxs");
    report = CheckHere();
    EXPECT_EQ(Kinds(report, Severity::kProblem), Names{});
    EXPECT_EQ(report.folders[0].shortcuts.at(1).fields.at(0).match, FieldMatch::kOtherSpelling);
}

TEST_F(CheckToolTest, ANetworkTargetIsNotLookedAt) {
    Install();
    RewriteVortasim(L"\\\\testhost\\share\\vxstart.exe", L"-runxs");
    Report report = CheckHere();
    EXPECT_EQ(Kinds(report, Severity::kProblem), Names{"fieldDiffers"});
    const FieldCheck& target = The(report, finding::kFieldDiffers).field;
    EXPECT_STREQ(target.name, L"target");
    EXPECT_EQ(target.match, FieldMatch::kNotLocal);
    EXPECT_EQ(target.actual, L"\\\\testhost\\share\\vxstart.exe");
}

TEST_F(CheckToolTest, ShortcutsOfTheOtherKindOfRunAreFound) {
    Stage(Relinfo("Vortasim 18", "18.1"));
    StageTargets();
    HANDLE token = MakeNonAdminToken();
    ASSERT_NE(token, nullptr);

    // Installed without administrator rights, checked by an administrator.
    Run(L"add_shortcuts", L"", token);
    ASSERT_TRUE(FileExists(userPrograms_ + L"\\Vortasim 18\\Vortasim 18.1.lnk"));
    Report report = CheckHere();
    EXPECT_EQ(Kinds(report, Severity::kProblem),
              (Names{"shortcutsMissing", "shortcutsInOtherFolder"}));
    EXPECT_TRUE(The(report, finding::kShortcutsMissing).allUsers);
    EXPECT_EQ(The(report, finding::kShortcutsMissing).count, 5u);
    EXPECT_FALSE(The(report, finding::kShortcutsInOtherFolder).allUsers);
    EXPECT_EQ(The(report, finding::kShortcutsInOtherFolder).count, 5u);

    // Installed by an administrator, checked without administrator rights.
    Run(L"remove_shortcuts", L"", token);
    ASSERT_FALSE(DirExists(userPrograms_ + L"\\Vortasim 18"));
    Run(L"add_shortcuts");
    ASSERT_TRUE(FileExists(Suite() + L"Vortasim 18.1.lnk"));
    ASSERT_TRUE(ImpersonateLoggedOnUser(token));
    report = CheckHere();
    RevertToSelf();
    CloseHandle(token);
    EXPECT_FALSE(report.administrator);
    EXPECT_EQ(Kinds(report, Severity::kProblem),
              (Names{"shortcutsMissing", "shortcutsInOtherFolder"}));
    EXPECT_FALSE(The(report, finding::kShortcutsMissing).allUsers);
    EXPECT_TRUE(The(report, finding::kShortcutsInOtherFolder).allUsers);
}

TEST_F(CheckToolTest, AnUpgradesStaleShortcutsAreListed) {
    // 18.0 installed, then 18.1 over it without removing 18.0's shortcuts; an emptied folder of an
    // older release beside them.
    Stage(Relinfo("Vortasim 18", "18.0"));
    Run(L"add_shortcuts");
    ASSERT_TRUE(FileExists(Suite() + L"Vortasim 18.0.lnk"));
    Install();
    MakeDirs(commonPrograms_ + L"\\Vortasim 17\\Utilities");

    Report report = CheckHere();
    EXPECT_EQ(Kinds(report, Severity::kProblem), Names{"leftovers"});
    EXPECT_EQ(The(report, finding::kLeftovers).count, 5u);
    std::set<std::wstring> stale;
    for (const Finding& found : report.findings) {
        if (found.kind != &finding::kOtherRevision) continue;
        stale.insert(found.path);
        EXPECT_EQ(found.revision, L"18.0");
    }
    EXPECT_EQ(stale, (std::set<std::wstring>{Suite() + L"Utilities\\KLD_ADMIN 18.0.lnk",
                                             Suite() + L"Utilities\\Motion 18.0.lnk",
                                             Suite() + L"Utilities\\Plotview 18.0.lnk",
                                             Suite() + L"Vortasim 18.0.lnk",
                                             Suite() + L"Vortasim Product Launcher 18.0.lnk"}));
    EXPECT_EQ(The(report, finding::kEmptyFolder).path, commonPrograms_ + L"\\Vortasim 17\\");
}

TEST_F(CheckToolTest, InvisibleCharactersInALeftoversNameAreShown) {
    // An earlier install under a folder name with a soft hyphen, which looks like the current one.
    Stage(Relinfo("Vortasim\xc2\xad 18", "18.1"));
    Run(L"add_shortcuts");
    ASSERT_TRUE(FileExists(commonPrograms_ + L"\\Vortasim\x00AD 18\\Vortasim 18.1.lnk"));
    Install();

    Report report = CheckHere();
    EXPECT_EQ(Kinds(report, Severity::kLeftover), Names(5, "otherFolder"));
    const Finding& leftover = The(report, finding::kOtherFolder);
    EXPECT_EQ(leftover.folder, L"Vortasim\x00AD 18");
    EXPECT_EQ(Sentence(leftover, true), L"another folder name: \"Vortasim<U+00AD> 18\"");
}

TEST_F(CheckToolTest, EmptyFoldersOfOtherProgramsAreNoProblem) {
    Install();
    MakeDirs(commonPrograms_ + L"\\Other Vendor\\Tools\\Utilities");
    MakeDirs(userPrograms_ + L"\\Another\\Utilities");
    WriteBytes(userPrograms_ + L"\\Another\\readme.txt", "x");

    Report report = CheckHere();
    EXPECT_EQ(Kinds(report, Severity::kProblem), Names{});
    EXPECT_EQ(Kinds(report, Severity::kLeftover), Names{"emptyFolder"});
    EXPECT_EQ(The(report, finding::kEmptyFolder).path,
              commonPrograms_ + L"\\Other Vendor\\Tools\\");
    EXPECT_EQ(Kinds(report, Severity::kNote), Names{"emptyFoldersListed"});
}
