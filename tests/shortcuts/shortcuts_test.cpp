#include "instutil/shortcuts.h"

#include "instutil/owners.h"
#include "instutil/paths.h"

#include <shlobj.h>

#include <thread>

#include "test_support.h"

#include <string>
#include <vector>

namespace {

// Runs the calling thread with the Administrators group deny-only while alive.
struct NonAdminScope {
    NonAdminScope() {
        token = MakeNonAdminToken();
        EXPECT_TRUE(ImpersonateLoggedOnUser(token));
    }
    ~NonAdminScope() {
        RevertToSelf();
        CloseHandle(token);
    }
    HANDLE token;
};

std::wstring ProgramsFolder() {
    int needed = GetProgramsFolder(nullptr, 0);
    if (needed <= 0) return {};
    std::wstring folder(needed, L'\0');
    EXPECT_EQ(GetProgramsFolder(&folder[0], needed), 0);
    folder.resize(needed - 1);
    return folder;
}

void AddTestShortcut(const wchar_t* subfolder, const wchar_t* title, const wchar_t* revision) {
    AddProgramShortcut(L"C:\\Suite\\bin\\", L"tool.exe", L"-x", L"C:\\Suite\\tool.ico",
                       L"%HOMEDRIVE%%HOMEPATH%", subfolder, title, L"A tool", SW_SHOWNORMAL,
                       revision);
}

using ShortcutsTest = ProgramsFolderTest;

}  // namespace

TEST_F(ShortcutsTest, ShortcutFieldsReadBackThroughTheShell) {
    std::wstring path = scratch_ + L"\\deep\\er\\Tool.lnk";
    EXPECT_EQ(CreateShortcutFile(path.c_str(), L"\"C:\\Suite\\bin\\tool.exe\"", L"-runxs",
                                 L"%HOMEDRIVE%%HOMEPATH%", L"Start the tool", L"C:\\Suite\\t.ico",
                                 3, SW_SHOWMAXIMIZED),
              S_OK);
    ShortcutFields fields = ReadShortcut(path);
    ASSERT_TRUE(fields.loaded);
    EXPECT_EQ(fields.target, L"C:\\Suite\\bin\\tool.exe");
    EXPECT_EQ(fields.arguments, L"-runxs");
    EXPECT_EQ(fields.workingDirectory, L"%HOMEDRIVE%%HOMEPATH%");
    EXPECT_EQ(fields.description, L"Start the tool");
    EXPECT_EQ(fields.iconFile, L"C:\\Suite\\t.ico");
    EXPECT_EQ(fields.iconIndex, 3);
    EXPECT_EQ(fields.showCommand, SW_SHOWMAXIMIZED);
}

TEST_F(ShortcutsTest, AdministratorsUseTheAllUsersFolderOthersTheirOwn) {
    EXPECT_TRUE(IsAdministrator());
    EXPECT_EQ(ProgramsFolder(), commonPrograms_);
    {
        NonAdminScope nonAdmin;
        EXPECT_FALSE(IsAdministrator());
        EXPECT_EQ(ProgramsFolder(), userPrograms_);
        AddTestShortcut(L"\\Suite\\", L"Tool", L"18.1");
    }
    EXPECT_TRUE(FileExists(userPrograms_ + L"\\Suite\\Tool 18.1.lnk"));
    EXPECT_TRUE(ListTree(commonPrograms_).empty());
}

TEST_F(ShortcutsTest, ProgramsFolderSizeQuery) {
    int needed = GetProgramsFolder(nullptr, 0);
    EXPECT_EQ(needed, static_cast<int>(commonPrograms_.size() + 1));
    std::wstring shortBuffer(needed, L'#');
    EXPECT_EQ(GetProgramsFolder(&shortBuffer[0], needed - 1), needed);
    EXPECT_EQ(shortBuffer[0], L'\0');
}

TEST_F(ShortcutsTest, NamesFollowOneRuleOnBothSides) {
    AddTestShortcut(L"\\Suite\\", L"Tool", L"18.1");
    AddTestShortcut(L"\\Suite\\Utilities\\", L"Plain", L"");
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"Suite\\", L"Suite\\Tool 18.1.lnk", L"Suite\\Utilities\\",
                                         L"Suite\\Utilities\\Plain.lnk"}));
    ShortcutFields fields = ReadShortcut(commonPrograms_ + L"\\Suite\\Tool 18.1.lnk");
    EXPECT_EQ(fields.target, L"C:\\Suite\\bin\\tool.exe");
    EXPECT_EQ(fields.iconIndex, 0);
    EXPECT_EQ(fields.iconFile, L"C:\\Suite\\tool.ico");
    EXPECT_EQ(fields.workingDirectory, L"%HOMEDRIVE%%HOMEPATH%");

    // A "<title> .lnk" left by earlier releases goes as well.
    WriteBytes(commonPrograms_ + L"\\Suite\\Old .lnk", "x");
    RemoveProgramShortcut(L"\\Suite\\", L"Tool", L"18.1");
    RemoveProgramShortcutNoRevision(L"\\Suite\\Utilities\\", L"Plain");
    RemoveProgramShortcutNoRevision(L"\\Suite\\", L"Old");
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"Suite\\", L"Suite\\Utilities\\"}));
}

TEST_F(ShortcutsTest, RevisionVariants) {
    if (!InOwnCopy()) return;
    std::wstring local = ThisProgramDir() + L"relinfo.xml";
    WriteBytes(local, "<r startMenuShortcutAppendRevision=\"local-7\"/>");
    AddProgramShortcutFixedRevision(L"C:\\S\\", L"a.exe", L"", L"C:\\S\\a.ico", L"C:\\", L"\\S\\",
                                    L"Fixed", L"d", SW_SHOWNORMAL);
    AddProgramShortcutLocalRevision(L"C:\\S\\", L"a.exe", L"", L"C:\\S\\a.ico", L"C:\\", L"\\S\\",
                                    L"Local", L"d", SW_SHOWNORMAL);
    // The test program has no release file five levels up: the global revision is empty.
    AddProgramShortcutGlobalRevision(L"C:\\S\\", L"a.exe", L"", L"C:\\S\\a.ico", L"C:\\", L"\\S\\",
                                     L"Global", L"d", SW_SHOWNORMAL);
    EXPECT_EQ(ListTree(commonPrograms_),
              (std::vector<std::wstring>{L"S\\", L"S\\Fixed 18.1.lnk", L"S\\Global.lnk",
                                         L"S\\Local local-7.lnk"}));
    RemoveProgramShortcutFixedRevision(L"\\S\\", L"Fixed");
    RemoveProgramShortcutLocalRevision(L"\\S\\", L"Local");
    RemoveProgramShortcutGlobalRevision(L"\\S\\", L"Global");
    DeleteFileW(local.c_str());
    EXPECT_EQ(ListTree(commonPrograms_), std::vector<std::wstring>{L"S\\"});
}

TEST_F(ShortcutsTest, HostileNamesWriteAndDeleteNothing) {
    std::vector<std::wstring> before = ListTree(scratch_);
    const wchar_t* subfolders[] = {L"\\..\\..\\Startup\\",
                                   L"\\..\\",
                                   L"\\a\\.\\",
                                   L"\\C:\\x\\",
                                   L"\\a:b\\",
                                   L"\\a/b\\",
                                   L"\\a*\\",
                                   L"\\a\x0001\\",
                                   L"\\. .\\"};
    for (const wchar_t* subfolder : subfolders) AddTestShortcut(subfolder, L"T", L"1");
    for (const wchar_t* part : {L"..\\x", L"a\\b", L"a:b", L"a?", L"a\"b", L"a|b", L"<a>"}) {
        AddTestShortcut(L"\\Suite\\", part, L"1");
        AddTestShortcut(L"\\Suite\\", L"T", part);
    }
    EXPECT_EQ(ListTree(scratch_), before);

    // Decoys where hostile removals would lead survive.
    WriteBytes(scratch_ + L"\\T 1.lnk", "decoy");
    WriteBytes(commonPrograms_ + L"\\T 1.lnk", "decoy");
    RemoveProgramShortcut(L"\\..\\", L"T", L"1");
    RemoveProgramShortcut(L"\\", L"..\\T", L"1");
    RemoveProgramShortcut(L"\\", L"T", L"1\\..\\..\\T 1");
    EXPECT_TRUE(FileExists(scratch_ + L"\\T 1.lnk"));
    EXPECT_TRUE(FileExists(commonPrograms_ + L"\\T 1.lnk"));
}

// The three name checks that keep both programs inside the Programs folder, one row per rule.
TEST(NameChecks, EachRuleAcceptsAndRefusesWhatItMust) {
    bool (*const subfolder)(const wchar_t*) = IsSafeSubfolder;
    bool (*const folderName)(const wchar_t*) = IsSafeFolderName;
    bool (*const namePart)(const wchar_t*) = IsSafeNamePart;
    const struct {
        bool (*check)(const wchar_t*);
        const wchar_t* name;
        bool safe;
        const char* rule;
    } rows[] = {
        {subfolder, L"\\Vortasim 18\\Utilities\\", true, "a suite's subfolder"},
        {subfolder, L"\\\\", true, "empty components"},
        {subfolder, L"\\a..b\\ .x\\", true, "dots and blanks within a name"},
        {subfolder, L"\\Vortasim \x00DC\\", true, "non-ASCII letters"},
        {subfolder, L"\\..\\Startup\\", false, "a .. component"},
        {subfolder, L"\\a\\.\\", false, "a . component"},
        {subfolder, L"\\. .\\", false, "a component of dots and blanks only"},
        {subfolder, L"\\a\\..", false, "a .. component at the end"},
        {subfolder, L"\\a/b\\", false, "a slash"},
        {subfolder, L"\\C:\\x\\", false, "a colon (drive or stream)"},
        {subfolder, L"\\a<b\\", false, "<"},
        {subfolder, L"\\a>b\\", false, ">"},
        {subfolder, L"\\a\"b\\", false, "a double quote"},
        {subfolder, L"\\a|b\\", false, "|"},
        {subfolder, L"\\a?\\", false, "?"},
        {subfolder, L"\\a*\\", false, "*"},
        {subfolder, L"\\a\x0001\\", false, "a control character"},
        {subfolder, L"\\a\x001F\\", false, "the last control character"},
        {subfolder, nullptr, false, "no name"},
        {folderName, L"Vortasim 18", true, "a folder name"},
        {folderName, L"Vendor\\Vortasim 18", true, "a folder two levels deep"},
        {folderName, L"\\Vortasim 18", false, "a leading backslash (rooted)"},
        {folderName, L"\\", false, "a backslash alone (the Programs folder itself)"},
        {folderName, L"..\\Startup", false, "folder names follow the subfolder rules"},
        {folderName, nullptr, false, "no folder name"},
        {namePart, L"Vortasim Product Launcher", true, "a title"},
        {namePart, L"18.1-\x00DF", true, "a revision"},
        {namePart, L"..", true, "dots within a file name"},
        {namePart, L"", true, "an empty revision"},
        {namePart, L"1\\..\\x", false, "a backslash"},
        {namePart, L"1/x", false, "a slash"},
        {namePart, L"a:b", false, "a colon"},
        {namePart, L"a*", false, "a wildcard"},
        {namePart, L"a\tb", false, "a control character"},
        {namePart, nullptr, false, "no name"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.check(row.name), row.safe) << row.rule;
}

// The reason behind each refusal: the first fault from the name's start, and where it lies.
TEST(NameChecks, ReasonsNameTheFirstFaultAndWhereItLies) {
    NameCheck check = CheckFolderName(L"Vortasim\\a\\..\\b:c");
    EXPECT_EQ(check.refusal, NameRefusal::kDotComponent);
    EXPECT_EQ(check.offset, 11u);
    EXPECT_EQ(check.length, 2u);
    check = CheckFolderName(L"S\\x\x001B]0|x");
    EXPECT_EQ(check.refusal, NameRefusal::kForbiddenChar);
    EXPECT_EQ(check.character, L'\x001B');
    EXPECT_EQ(check.offset, 3u);
    EXPECT_EQ(CheckFolderName(L"\\\\server\\share").refusal, NameRefusal::kRooted);
    EXPECT_EQ(CheckFolderName(nullptr).refusal, NameRefusal::kMissing);
    check = CheckNamePart(L"18.1\\x");
    EXPECT_EQ(check.refusal, NameRefusal::kForbiddenChar);
    EXPECT_EQ(check.character, L'\\');
    EXPECT_EQ(CheckSubfolder(L"\\Vortasim 18\\Utilities\\").refusal, NameRefusal::kNone);
}

TEST_F(ShortcutsTest, UnknownProgramsFolderWritesNothing) {
    // A Programs folder that names no existing folder cannot be fetched without creating it.
    WriteRegExpandString(HKEY_LOCAL_MACHINE,
                         L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell "
                         L"Folders",
                         L"Common Programs", scratch_ + L"\\gone");
    wchar_t probe[MAX_PATH + 1];
    if (SHGetSpecialFolderPathW(nullptr, probe, CSIDL_COMMON_PROGRAMS, FALSE)) {
        GTEST_SKIP() << "this platform reports a Programs folder that does not exist";
    }
    std::vector<std::wstring> before = ListTree(scratch_);
    // The size query asks for what a caller can allocate, the empty string; the fill fails.
    int needed = GetProgramsFolder(nullptr, 0);
    EXPECT_EQ(needed, 1);
    std::wstring folder(16, L'#');
    EXPECT_EQ(GetProgramsFolder(&folder[0], needed), E_FAIL);
    EXPECT_EQ(folder[0], L'\0');
    AddTestShortcut(L"\\Suite\\", L"Tool", L"1");
    AddTestShortcut(L"\\", L"Tool", L"1");
    EXPECT_EQ(ListTree(scratch_), before);
    EXPECT_FALSE(FileExists(L"C:\\Suite\\Tool 1.lnk"));
    EXPECT_FALSE(FileExists(L"C:\\Tool 1.lnk"));
}

TEST_F(ShortcutsTest, DeleteFileBothForms) {
    std::wstring file = scratch_ + L"\\x.lnk";
    WriteBytes(file, "x");
    EXPECT_EQ(DeleteFileBothForms(file.c_str()), S_OK);
    EXPECT_FALSE(FileExists(file));
    EXPECT_EQ(DeleteFileBothForms(file.c_str()), E_FAIL);
}

TEST_F(ShortcutsTest, FolderChecks) {
    std::wstring empty = scratch_ + L"\\empty";
    MakeDirs(empty);
    EXPECT_EQ(RemoveFolderIfNoFiles(empty.c_str()), S_OK);
    EXPECT_FALSE(DirExists(empty));

    std::wstring holding = scratch_ + L"\\holding";
    CreateShortcutFile((holding + L"\\T.lnk").c_str(), L"C:\\x.exe", L"", L"", L"", L"", 0, 1);
    EXPECT_EQ(RemoveFolderIfNoFiles(holding.c_str()), kFolderHoldsFiles);
    EXPECT_TRUE(FileExists(holding + L"\\T.lnk"));

    // Only an empty subfolder: nothing is listed, but the directory is not empty.
    std::wstring outer = scratch_ + L"\\outer";
    MakeDirs(outer + L"\\inner");
    EXPECT_EQ(RemoveFolderIfNoFiles(outer.c_str()), S_OK);
    EXPECT_TRUE(DirExists(outer + L"\\inner"));
    EXPECT_EQ(RemoveFolderIfNoFiles((outer + L"\\inner").c_str()), S_OK);
    EXPECT_EQ(RemoveFolderIfNoFiles(outer.c_str()), S_OK);
    EXPECT_FALSE(DirExists(outer));

    // Only a hidden file: not listed, not removed either.
    std::wstring hidden = scratch_ + L"\\hidden";
    MakeDirs(hidden);
    WriteBytes(hidden + L"\\desktop.ini", "x");
    SetFileAttributesW((hidden + L"\\desktop.ini").c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(RemoveFolderIfNoFiles(hidden.c_str()), S_OK);
    EXPECT_TRUE(FileExists(hidden + L"\\desktop.ini"));

    // A doubled separator, as composed for an empty folder name, names the same folder.
    std::wstring doubled = scratch_ + L"\\\\doubled";
    MakeDirs(scratch_ + L"\\doubled");
    EXPECT_EQ(RemoveFolderIfNoFiles(doubled.c_str()), S_OK);
    EXPECT_FALSE(DirExists(scratch_ + L"\\doubled"));

    EXPECT_EQ(RemoveFolderIfNoFiles((scratch_ + L"\\missing").c_str()), E_FAIL);

    // A file cannot be bound as a folder: its failure comes back and the file stays.
    std::wstring file = scratch_ + L"\\plain.txt";
    WriteBytes(file, "x");
    HRESULT hr = RemoveFolderIfNoFiles(file.c_str());
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_TRUE(FileExists(file));
}

TEST_F(ShortcutsTest, StartMenuFolderRemoval) {
    MakeDirs(commonPrograms_ + L"\\Suite\\Utilities");
    RemoveProgramsSubfolder(L"\\Suite\\Utilities");
    EXPECT_FALSE(DirExists(commonPrograms_ + L"\\Suite\\Utilities"));
    RemoveStartMenuFolder(L"Suite");
    EXPECT_FALSE(DirExists(commonPrograms_ + L"\\Suite"));

    // The Programs folder itself is never examined, even when it is empty.
    RemoveStartMenuFolder(L"");
    EXPECT_TRUE(DirExists(commonPrograms_));

    // A name longer than the composed path allows removes nothing and overruns nothing.
    std::wstring longName(600, L'n');
    EXPECT_EQ(RemoveStartMenuFolder(longName.c_str()), 0);
    EXPECT_TRUE(DirExists(commonPrograms_));

    // Hostile names remove nothing outside.
    MakeDirs(scratch_ + L"\\Victim");
    RemoveStartMenuFolder(L"..\\Victim");
    RemoveStartMenuFolder(L"\\..\\Victim");
    RemoveProgramsSubfolder(L"\\..\\Victim");
    EXPECT_TRUE(DirExists(scratch_ + L"\\Victim"));
}

TEST(ComForScope, InitialisesForItsLifeAndBalancesOnlyWhatItInitialised) {
    // On a thread of its own, where COM starts uninitialised.
    std::thread([] {
        {
            UniqueComInitialization com = InitializeComForScope();
            EXPECT_TRUE(com);
            EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);  // already
            CoUninitialize();
        }
        // Balanced: initialising now is the first time again.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
        // COM initialised with another model: an empty owner, which balances nothing.
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_FALSE(InitializeComForScope());
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);  // still initialised
        CoUninitialize();
        CoUninitialize();
    }).join();
}
