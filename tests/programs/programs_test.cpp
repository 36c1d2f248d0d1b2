// End-to-end runs of the built programs on staged install trees.
#include "test_support.h"

#include "suite/suite.h"

#include <algorithm>
#include <cwchar>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kRelinfo[] =
    "<?xml version=\"1.0\"?>\n<release>\n"
    "  <startMenuFolderName>\"Vortasim 18\"</startMenuFolderName>\n"
    "  <startMenuShortcutAppendRevision>\"18.1\"</startMenuShortcutAppendRevision>\n"
    "</release>\n";

struct Expected {
    const wchar_t* file;
    const wchar_t* executable;
    const wchar_t* arguments;
    const wchar_t* description;
};

const Expected kShortcuts[] = {
    {L"Vortasim Product Launcher 18.1.lnk", L"vxstart.exe", L"", L"Vortasim Product Launcher"},
    {L"Vortasim 18.1.lnk", L"vxstart.exe", L"-runxs", L"Start VSL Now"},
    {L"Utilities\\Motion 18.1.lnk", L"vxmotion.exe", L"", L"KELDA Motion Utility"},
    {L"Utilities\\Plotview 18.1.lnk", L"vxplot.exe", L"", L"KELDA Plotview Utility"},
    {L"Utilities\\KLD_ADMIN 18.1.lnk", L"KLD_ADMIN.exe", L"", L"KELDA Administration Utility"},
};

// What add_shortcuts leaves below a Programs folder: the five shortcuts, named <title><ending>.lnk
// below `folder` ("" or "<name>\\"), with their folders, as ListTree lists them.
std::vector<std::wstring> ExpectedTree(const std::wstring& folder, const std::wstring& ending) {
    std::vector<std::wstring> tree = {folder + L"Utilities\\"};
    if (!folder.empty()) tree.push_back(folder);
    for (const wchar_t* title : {L"Vortasim Product Launcher", L"Vortasim"}) {
        tree.push_back(folder + title + ending + L".lnk");
    }
    for (const wchar_t* title : {L"Motion", L"Plotview", L"KLD_ADMIN"}) {
        tree.push_back(folder + L"Utilities\\" + title + ending + L".lnk");
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

}  // namespace

TEST_F(InstallTreeTest, AddShortcutsWritesTheFiveShortcuts) {
    Stage(kRelinfo);
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);

    std::wstring suite = commonPrograms_ + L"\\Vortasim 18\\";
    std::vector<std::wstring> expectedTree = {L"Vortasim 18\\", L"Vortasim 18\\Utilities\\"};
    for (const Expected& shortcut : kShortcuts) {
        expectedTree.push_back(std::wstring(L"Vortasim 18\\") + shortcut.file);
        ShortcutFields fields = ReadShortcut(suite + shortcut.file);
        ASSERT_TRUE(fields.loaded) << Narrow(shortcut.file);
        EXPECT_EQ(fields.target, root_ + L"\\KELDA\\bin\\winx64\\" + shortcut.executable);
        EXPECT_EQ(fields.arguments, shortcut.arguments);
        EXPECT_EQ(fields.description, shortcut.description);
        EXPECT_EQ(fields.workingDirectory, L"%HOMEDRIVE%%HOMEPATH%");
        EXPECT_EQ(fields.iconFile, root_ + L"\\commonfiles\\images\\VxHub2_iconSet.ico");
        EXPECT_EQ(fields.iconIndex, 0);
        EXPECT_EQ(fields.showCommand, SW_SHOWNORMAL);
    }
    std::sort(expectedTree.begin(), expectedTree.end());
    EXPECT_EQ(ListTree(commonPrograms_), expectedTree);
    EXPECT_TRUE(ListTree(userPrograms_).empty());

    // Arguments change nothing, and a second run saves the same files again.
    EXPECT_EQ(Run(L"add_shortcuts", L" /uninstall --quiet \"x y\""), 0u);
    EXPECT_EQ(ListTree(commonPrograms_), expectedTree);
}

TEST_F(InstallTreeTest, WithoutAFolderNameTheShortcutsGoToTheTopOfPrograms) {
    Stage("<r startMenuShortcutAppendRevision=\"r2\"/>");
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"Utilities\\", L"Utilities\\KLD_ADMIN r2.lnk",
                                         L"Utilities\\Motion r2.lnk", L"Utilities\\Plotview r2.lnk",
                                         L"Vortasim Product Launcher r2.lnk", L"Vortasim r2.lnk"}));
}

TEST_F(InstallTreeTest, WithoutARevisionTheNamesEndInTheTitle) {
    Stage("<r startMenuFolderName=\"S\"/>");
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_), ExpectedTree(L"S\\", L""));
}

TEST_F(InstallTreeTest, AMissingReleaseFileStaysMissing) {
    Stage("");
    std::wstring relinfo = root_ + L"\\commonfiles\\globalsettings\\relinfo.xml";
    DeleteFileW(relinfo.c_str());
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_FALSE(FileExists(relinfo));
    EXPECT_EQ(ListTree(commonPrograms_), ExpectedTree(L"", L""));
}

TEST_F(InstallTreeTest, NonAdministratorsGetTheirOwnProgramsFolder) {
    Stage(kRelinfo);
    HANDLE token = MakeNonAdminToken();
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(Run(L"add_shortcuts", L"", token), 0u);
    CloseHandle(token);
    EXPECT_TRUE(ListTree(commonPrograms_).empty());
    EXPECT_EQ(ListTree(userPrograms_), ExpectedTree(L"Vortasim 18\\", L" 18.1"));
}

TEST_F(InstallTreeTest, HostileReleaseValuesWriteNothing) {
    const std::string hostile[] = {Relinfo("..\\..\\Startup", "18.1"),
                                   Relinfo("C:\\x", "18.1"),
                                   Relinfo("a:b", "18.1"),
                                   Relinfo("Suite", "1\\..\\..\\x"),
                                   Relinfo("\\\\srv\\share", "1"),
                                   Relinfo("..", ""),
                                   Relinfo("Suite", "a/b"),
                                   Relinfo("S\x01", "1")};
    for (const std::string& relinfo : hostile) {
        Stage(relinfo);
        std::vector<std::wstring> before = ListTree(scratch_);
        EXPECT_EQ(Run(L"add_shortcuts"), 0u) << relinfo;
        EXPECT_EQ(ListTree(scratch_), before) << relinfo;
        EXPECT_FALSE(DirExists(L"C:\\x")) << relinfo;
        RemoveTree(root_);
    }
}

TEST_F(InstallTreeTest, ASystemDllThatCannotBeLoadedEndsTheProgramsQuietly) {
    // oleaut32 disabled for one program (Wine's per-program DLL overrides): add_shortcuts first
    // needs it to save a shortcut, once the suite's folder is made; remove_shortcuts to examine a
    // folder, once the shortcuts are deleted.
    auto runWithoutOleaut32 = [&](const wchar_t* program) {
        std::wstring key =
            std::wstring(L"Software\\Wine\\AppDefaults\\") + program + L".exe\\DllOverrides";
        WriteRegExpandString(HKEY_CURRENT_USER, key.c_str(), L"oleaut32", L"");
        DWORD code = Run(program);
        DeleteRegValue(HKEY_CURRENT_USER, key.c_str(), L"oleaut32");
        return code;
    };
    Stage(kRelinfo);

    EXPECT_EQ(runWithoutOleaut32(L"add_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_), std::vector<std::wstring>{L"Vortasim 18\\"});

    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    ASSERT_EQ(ListTree(commonPrograms_).size(), 7u);
    EXPECT_EQ(runWithoutOleaut32(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"Vortasim 18\\", L"Vortasim 18\\Utilities\\"}));
}

TEST(SuiteLayout, LevelsAreCountedBelowTheRootOfADriveOrShare) {
    const std::pair<const wchar_t*, size_t> cases[] = {
        {L"C:\\Vortasim\\add_shortcuts.exe", 2},
        {L"D:\\KELDA\\bin\\winx64\\installer\\add_shortcuts.exe", 5},
        {L"c:\\a\\\\b\\", 2},  // empty components and a trailing backslash do not count
        {L"\\\\server\\share\\KELDA\\bin\\winx64\\installer\\add_shortcuts.exe", 5},
        {L"\\\\server\\share\\Vortasim\\add_shortcuts.exe", 2},
        {L"\\\\?\\C:\\KELDA\\bin\\winx64\\installer\\add_shortcuts.exe", 5},
        {L"\\\\?\\unc\\server\\share\\a\\b\\c\\d\\e.exe", 5},
        {L"\\\\.\\D:\\a\\b.exe", 2},
        // No root that the rule knows: no levels at all.
        {L"\\??\\C:\\a\\b\\c\\d\\e.exe", 0},
        {L"\\\\?\\Volume{0b1c2d3e-0000-0000-0000-100000000000}\\a\\b\\c\\d\\e.exe", 0},
        {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume2\\a\\b\\c\\d\\e.exe", 0},
        {L"\\\\?\\CC:\\a\\b\\c\\d\\e.exe", 0},
        {L"\\a\\b\\c\\d\\e.exe", 0},
        {L"a\\b\\c\\d\\e\\f.exe", 0},
        {L"1:\\a\\b\\c\\d\\e.exe", 0},
        {L"C:", 0},
        {L"", 0},
    };
    for (const auto& [path, levels] : cases) {
        EXPECT_EQ(LevelsBelowRoot(path), levels) << Narrow(path);
    }
    EXPECT_EQ(LevelsBelowRoot(nullptr), 0u);
    EXPECT_FALSE(IsDeepEnoughForInstallRoot(L"C:\\KELDA\\bin\\winx64\\add_shortcuts.exe"));
    EXPECT_TRUE(
        IsDeepEnoughForInstallRoot(L"D:\\KELDA\\bin\\winx64\\installer\\add_shortcuts.exe"));
}

TEST_F(InstallTreeTest, AtADrivesRootOnlyProgramsFiveLevelsDownWork) {
    // A release file at the root of the scratch prefix's C: names the suite's folder, as one
    // planted there would.
    ASSERT_FALSE(DirExists(L"C:\\commonfiles"));
    ASSERT_FALSE(DirExists(L"C:\\KELDA"));
    MakeDirs(L"C:\\commonfiles\\globalsettings");
    WriteBytes(L"C:\\commonfiles\\globalsettings\\relinfo.xml", kRelinfo);
    const std::wstring shallow[] = {L"C:\\Vortasim-" + std::to_wstring(GetCurrentProcessId()),
                                    L"C:\\KELDA\\bin\\winx64"};      // two and four levels down
    const std::wstring deep = L"C:\\KELDA\\bin\\winx64\\installer";  // a suite at the drive's root
    auto run = [](const std::wstring& folder, const wchar_t* program) {
        MakeDirs(folder);
        std::wstring copy = folder + L"\\" + program + L".exe";
        CopyFileW(BuiltProgram(program).c_str(), copy.c_str(), FALSE);
        return RunProgram(L"\"" + copy + L"\"");
    };

    for (const std::wstring& folder : shallow) {
        EXPECT_EQ(run(folder, L"add_shortcuts"), 0u);
        EXPECT_TRUE(ListTree(commonPrograms_).empty()) << Narrow(folder);
    }
    EXPECT_EQ(run(deep, L"add_shortcuts"), 0u);
    const std::vector<std::wstring> made = ListTree(commonPrograms_);
    EXPECT_EQ(made, ExpectedTree(L"Vortasim 18\\", L" 18.1"));
    for (const std::wstring& folder : shallow) {
        EXPECT_EQ(run(folder, L"remove_shortcuts"), 0u);
        EXPECT_EQ(ListTree(commonPrograms_), made) << Narrow(folder);
    }
    EXPECT_EQ(run(deep, L"remove_shortcuts"), 0u);
    EXPECT_TRUE(ListTree(commonPrograms_).empty());

    for (const wchar_t* planted : {L"C:\\commonfiles", L"C:\\KELDA"}) RemoveTree(planted);
    RemoveTree(shallow[0]);
}

TEST(ProgramRuntime, AnUncaughtExceptionEndsTheProgramSilently) {
    // The programs' own handler ends the process at once, with abort's code, and shows nothing.
    EXPECT_EQ(RunProgram(L"\"" + ThisProgramDir() + L"uncaught_probe.exe\"", nullptr, 20000), 3u);
}

// Round trips: add_shortcuts then remove_shortcuts leave the Start menu as it was.
namespace {

struct RoundTrip {
    const char* name;
    std::string relinfo;
    size_t added;  // files and folders that add_shortcuts writes
};

// Test output names a case by its name alone.
void PrintTo(const RoundTrip& roundTrip, std::ostream* out) {
    *out << roundTrip.name;
}

class RoundTripTest : public InstallTreeTest, public ::testing::WithParamInterface<RoundTrip> {};

}  // namespace

TEST_P(RoundTripTest, InstallThenRemovalLeavesEverythingAsItWas) {
    Stage(GetParam().relinfo);
    // Something of the user's own beside the suite must survive.
    MakeDirs(commonPrograms_ + L"\\Other Suite");
    WriteBytes(commonPrograms_ + L"\\Other Suite\\Other.lnk", "x");
    std::vector<std::wstring> before = ListTree(scratch_);

    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_EQ(ListTree(scratch_).size(), before.size() + GetParam().added);
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(scratch_), before);

    // Twice in a row, each way.
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(scratch_), before);
}

INSTANTIATE_TEST_SUITE_P(
    ReleaseFiles, RoundTripTest,
    ::testing::Values(RoundTrip{"WithRevision", kRelinfo, 7},
                      RoundTrip{"WithoutRevision", Relinfo("Vortasim 18", ""), 7},
                      // "Vortasim Ü 18" with the revision "18.1-ß", in UTF-8.
                      RoundTrip{"NonAscii", Relinfo("Vortasim \xC3\x9C 18", "18.1-\xC3\x9F"), 7},
                      // No folder name: the top of the Programs folder and its Utilities.
                      RoundTrip{"NoFolderName", "<r startMenuShortcutAppendRevision=\"18.1\"/>", 6},
                      RoundTrip{"NoReleaseValues", "", 6}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

TEST_F(InstallTreeTest, FilesOfTheUsersKeepTheirFolders) {
    Stage(kRelinfo);
    std::wstring suite = commonPrograms_ + L"\\Vortasim 18";

    // A shortcut the user added keeps the suite's folder; Utilities still goes.
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    WriteBytes(suite + L"\\Mine.lnk", "x");
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"Vortasim 18\\", L"Vortasim 18\\Mine.lnk"}));
    DeleteFileW((suite + L"\\Mine.lnk").c_str());

    // A file left in Utilities keeps Utilities and the suite's folder.
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    const std::wstring notes = suite + L"\\" + kUtilitiesName + L"\\notes.txt";
    WriteBytes(notes, "x");
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"Vortasim 18\\", L"Vortasim 18\\Utilities\\",
                                         L"Vortasim 18\\Utilities\\notes.txt"}));
    DeleteFileW(notes.c_str());

    // The site-information shortcut under the current revision goes too.
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    WriteBytes(suite + kUtilitiesTail.data() + L"Plotview Site Information 18.1.lnk", "x");
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_TRUE(ListTree(commonPrograms_).empty());
}

TEST_F(InstallTreeTest, ReadOnlyShortcutsAreRemovedAndNothingElseIsTouched) {
    Stage(kRelinfo);
    const std::wstring suite = commonPrograms_ + L"\\Vortasim 18";
    auto readOnly = [](const std::wstring& path) {
        DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    };
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    for (const Expected& shortcut : kShortcuts) {
        ASSERT_TRUE(
            SetFileAttributesW((suite + L"\\" + shortcut.file).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    // A read-only file of the user's keeps its attribute and its folder.
    WriteBytes(suite + L"\\Mine.lnk", "x");
    ASSERT_TRUE(SetFileAttributesW((suite + L"\\Mine.lnk").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"Vortasim 18\\", L"Vortasim 18\\Mine.lnk"}));
    EXPECT_TRUE(readOnly(suite + L"\\Mine.lnk"));

    // Under a shortcut's name, a read-only folder, and a read-only shortcut with a second name
    // elsewhere (clearing the attribute would change that file too): both stay as they are.
    EXPECT_EQ(Run(L"add_shortcuts"), 0u);
    const std::wstring launcher = suite + L"\\Vortasim Product Launcher 18.1.lnk";
    const std::wstring otherName = scratch_ + L"\\pinned.lnk";
    ASSERT_TRUE(CreateHardLinkW(otherName.c_str(), launcher.c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesW(launcher.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::wstring motion = suite + kUtilitiesTail.data() + L"Motion 18.1.lnk";
    ASSERT_TRUE(DeleteFileW(motion.c_str()));
    MakeDirs(motion);
    SetFileAttributesW(motion.c_str(), FILE_ATTRIBUTE_READONLY);  // Wine keeps no such attribute
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_TRUE(readOnly(launcher));
    EXPECT_TRUE(readOnly(otherName));
    EXPECT_TRUE(DirExists(motion));
}

TEST_F(InstallTreeTest, RemovalKeepsToTheProgramsFolderOfTheUsersRights) {
    Stage(kRelinfo);
    HANDLE token = MakeNonAdminToken();
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(Run(L"add_shortcuts", L"", token), 0u);
    ASSERT_EQ(ListTree(userPrograms_).size(), 7u);

    // An administrator's removal looks in the all-users folder only.
    EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
    EXPECT_EQ(ListTree(userPrograms_).size(), 7u);

    EXPECT_EQ(Run(L"remove_shortcuts", L"", token), 0u);
    CloseHandle(token);
    EXPECT_TRUE(ListTree(userPrograms_).empty());
    EXPECT_TRUE(ListTree(commonPrograms_).empty());
}

TEST_F(InstallTreeTest, HostileReleaseValuesDeleteNothing) {
    // Decoys wherever a remover that trusted the values would lead: each shortcut name composed
    // from the hostile folder name and revision, and the folders it would examine.
    std::wstring outside = L"C:\\instkit-decoy-" + std::to_wstring(GetCurrentProcessId());
    const std::pair<std::string, std::string> hostile[] = {
        {"..\\..\\Startup", "18.1"},
        {"..\\..\\Startup", ""},
        {Narrow(outside), "18.1"},
        {"a:b", "18.1"},
        {"Suite", "1\\..\\..\\..\\Startup\\x"},
        {"..", ""},
        {"\\", "18.1"}};  // rooted: the Programs folder itself
    auto resolved = [](const std::wstring& path) {
        wchar_t full[MAX_PATH * 2];
        DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
        return length && length < MAX_PATH * 2 ? std::wstring(full) : std::wstring();
    };
    // Every entry of `was` that `is` lacks, by name.
    auto missing = [](const std::vector<std::wstring>& was, const std::vector<std::wstring>& is) {
        std::wstring gone;
        for (const std::wstring& entry : was) {
            if (!std::binary_search(is.begin(), is.end(), entry)) gone += entry + L"  ";
        }
        return Narrow(gone);
    };
    for (const auto& [folderName, revision] : hostile) {
        SCOPED_TRACE(folderName + " / " + revision);
        Stage(Relinfo(folderName, revision));
        MakeDirs(outside + L"\\" + kUtilitiesName);
        const std::wstring folder = commonPrograms_ + L"\\" + Widen(folderName);
        // The two folders it would examine, where the name leads somewhere else than to a folder
        // of that name (a suite's own folders, emptied, are removed).
        for (const std::wstring& tail : {L"\\" + std::wstring(kUtilitiesName), std::wstring()}) {
            std::wstring decoyFolder = resolved(folder + tail);
            if (resolved(folder) != folder && !decoyFolder.empty()) MakeDirs(decoyFolder);
        }
        // The current name, and for an empty revision also the old rule's "<title> .lnk", which
        // removal deletes too.
        std::vector<std::string> endings = {revision.empty() ? "" : " " + revision};
        if (revision.empty()) endings.push_back(" ");
        for (const RemovalEntry& entry : kRemovalCatalogue) {
            for (const wchar_t* tail : {kTopTail, kUtilitiesTail.data()}) {
                for (const std::string& ending : endings) {
                    std::wstring decoy =
                        resolved(folder + tail + entry.title + Widen(ending) + L".lnk");
                    if (decoy.empty()) continue;
                    std::wstring parent = decoy.substr(0, decoy.rfind(L'\\'));
                    MakeDirs(parent);
                    if (DirExists(parent)) WriteBytes(decoy, "decoy");
                }
            }
        }
        const std::vector<std::wstring> before = ListTree(scratch_);
        const std::vector<std::wstring> outsideBefore = ListTree(outside);
        EXPECT_EQ(Run(L"remove_shortcuts"), 0u);
        EXPECT_EQ(missing(before, ListTree(scratch_)), "");
        EXPECT_EQ(missing(outsideBefore, ListTree(outside)), "");
        RemoveTree(root_);
        RemoveTree(outside);
    }
}

TEST_F(InstallTreeTest, AnyArgumentsDoTheSameWorkAndExitWithZero) {
    Stage(kRelinfo);
    const std::vector<std::wstring> installed = ExpectedTree(L"Vortasim 18\\", L" 18.1");
    for (const wchar_t* arguments :
         {L"", L" /?", L" --help", L" -x \"a b\" c", L" \"unterminated"}) {
        SCOPED_TRACE(Narrow(arguments));
        EXPECT_EQ(Run(L"add_shortcuts", arguments), 0u);
        EXPECT_EQ(ListTree(commonPrograms_), installed);
        EXPECT_EQ(Run(L"remove_shortcuts", arguments), 0u);
        EXPECT_TRUE(ListTree(commonPrograms_).empty());
        EXPECT_EQ(Run(L"remove_shortcuts", arguments), 0u);  // with nothing left to remove
        EXPECT_TRUE(ListTree(commonPrograms_).empty());
    }
}

// Planted DLLs: markers (tests/marker_dll.c) that record their load.
namespace {

// Every DLL that the programs' processes load under Wine (WINEDEBUG=+loaddll lists them), and
// some that system DLLs load later on Windows.
constexpr const wchar_t* kLoadedDlls[] = {
    L"ntdll",    L"kernelbase", L"kernel32", L"msvcrt",  L"ucrtbase", L"sechost",
    L"advapi32", L"zlib1",      L"version",  L"win32u",  L"user32",   L"gdi32",
    L"shcore",   L"shlwapi",    L"imm32",    L"shell32", L"rpcrt4",   L"combase",
    L"ole32",    L"uxtheme",    L"oleaut32", L"propsys", L"profapi",  L"cryptbase"};

}  // namespace

TEST_F(InstallTreeTest, NoDllIsTakenFromTheProgramsFolderOrTheCurrentDirectory) {
    Stage(kRelinfo);
    std::wstring current = scratch_ + L"\\current";
    MakeDirs(current);
    // Markers that record their load, under each name, beside the programs and in the directory
    // they run in.
    std::wstring marker = ThisProgramDir() + L"..\\instkit_marker.dll";
    for (const std::wstring& folder : {bin_, current}) {
        for (const wchar_t* name : kLoadedDlls) {
            ASSERT_TRUE(
                CopyFileW(marker.c_str(), (folder + L"\\" + name + L".dll").c_str(), FALSE));
        }
    }
    // A marker that is loaded says so.
    std::wstring check = scratch_ + L"\\zqcheck.dll";
    ASSERT_TRUE(CopyFileW(marker.c_str(), check.c_str(), FALSE));
    HMODULE checked = LoadLibraryW(check.c_str());
    ASSERT_NE(checked, nullptr);
    FreeLibrary(checked);
    EXPECT_TRUE(FileExists(check + L".loaded"));

    // The programs still do their work.
    auto run = [&](const wchar_t* program) {
        return RunProgram(L"\"" + bin_ + L"\\" + program + L".exe\"", nullptr, 60000,
                          current.c_str());
    };
    EXPECT_EQ(run(L"add_shortcuts"), 0u);
    EXPECT_EQ(ListTree(commonPrograms_), ExpectedTree(L"Vortasim 18\\", L" 18.1"));
    EXPECT_EQ(run(L"remove_shortcuts"), 0u);
    EXPECT_TRUE(ListTree(commonPrograms_).empty());

    for (const std::wstring& folder : {bin_, current}) {
        for (const std::wstring& entry : ListTree(folder)) {
            EXPECT_EQ(entry.find(L".loaded"), std::wstring::npos) << Narrow(folder + L"\\" + entry);
        }
    }
}
