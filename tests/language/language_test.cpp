// Runs with LC_ALL=de_DE.UTF-8: wherever the locale decides, the answer is German ("de").
#include "language_scratch.h"

#include <cwchar>
#include <string>
#include <vector>

namespace {

// ReadSettingsValue's size query, then its fill into a buffer of that size.
std::wstring SettingsValue(const std::wstring& file, int* queried) {
    *queried = ReadSettingsValue(file.c_str(), nullptr, 0);
    std::wstring value(*queried > 0 ? *queried : 1, L'?');
    WideBuffer holder = &value[0];
    EXPECT_EQ(ReadSettingsValue(file.c_str(), &holder, static_cast<DWORD>(value.size())), *queried);
    return value.c_str();
}

class LanguageLookup : public LanguageScratchTest {
protected:
    void SetUp() override {
        LanguageScratchTest::SetUp();
        ASSERT_EQ(GetUserDefaultLCID(), 0x0407u) << "LC_ALL did not set the user locale";
    }
};

}  // namespace

TEST(LanguageCodes, SizesAndCopies) {
    wchar_t buffer[10] = L"X";
    EXPECT_EQ(GetLanguageCode(0, nullptr, 0), 6);
    EXPECT_EQ(GetLanguageCode(0, buffer, 6), 6);
    EXPECT_STREQ(buffer, L"en-us");
    EXPECT_EQ(GetLanguageCode(3, buffer, 3), 3);
    EXPECT_STREQ(buffer, L"ja");
    EXPECT_EQ(GetLanguageCode(0, buffer, 5), 6);  // too small: emptied, not copied
    EXPECT_STREQ(buffer, L"");
    wcscpy(buffer, L"X");
    EXPECT_EQ(GetLanguageCode(1, buffer, 1), 3);  // below 2: left alone
    EXPECT_STREQ(buffer, L"X");
    EXPECT_EQ(GetLanguageCode(4, buffer, 10), 0);
    EXPECT_STREQ(buffer, L"");
    EXPECT_EQ(GetLanguageCode(-1, nullptr, 0), 0);
}

TEST(ReleaseConstants, NumberAndVersionFolder) {
    wchar_t buffer[8] = L"X";
    EXPECT_EQ(GetReleaseNumber(nullptr, 0), 4u);
    EXPECT_EQ(GetReleaseNumber(buffer, 3), 4u);
    EXPECT_STREQ(buffer, L"X");
    EXPECT_EQ(GetReleaseNumber(buffer, 4), 0u);
    EXPECT_STREQ(buffer, L"182");
    EXPECT_EQ(GetVersionFolderName(nullptr, 0), 5u);
    EXPECT_EQ(GetVersionFolderName(buffer, 4), 5u);
    EXPECT_STREQ(buffer, L"182");
    EXPECT_EQ(GetVersionFolderName(buffer, 5), 0u);
    EXPECT_STREQ(buffer, L"v182");
}

TEST(ReleaseConstants, RootVariable) {
    wchar_t saved[MAX_PATH];
    DWORD savedLength = GetEnvironmentVariableW(L"KDX_ROOT182", saved, MAX_PATH);
    wchar_t buffer[32] = L"X";
    SetEnvironmentVariableW(L"KDX_ROOT182", L"D:\\Kelda\\182");
    EXPECT_EQ(GetReleaseRootVariable(nullptr, 0), 13u);
    EXPECT_EQ(GetReleaseRootVariable(buffer, 12), 13u);
    EXPECT_STREQ(buffer, L"X");
    EXPECT_EQ(GetReleaseRootVariable(buffer, 13), 0u);
    EXPECT_STREQ(buffer, L"D:\\Kelda\\182");
    SetEnvironmentVariableW(L"KDX_ROOT182", nullptr);
    EXPECT_EQ(GetReleaseRootVariable(nullptr, 0), 0u);
    EXPECT_EQ(GetReleaseRootVariable(buffer, 32), 0u);
    EXPECT_STREQ(buffer, L"D:\\Kelda\\182");  // unset: the buffer keeps what it held
    SetEnvironmentVariableW(L"KDX_ROOT182", savedLength ? saved : nullptr);
}

TEST(ReleaseConstants, MediaTag) {
    std::wstring dir = MakeScratchDir(L"media");
    wchar_t buffer[16] = L"X";
    EXPECT_EQ(ReadMediaTag(dir.c_str(), nullptr, 0), 1u);  // no 182-1.dvd: the empty tag
    EXPECT_EQ(ReadMediaTag(dir.c_str(), buffer, 1), 0u);
    EXPECT_STREQ(buffer, L"");
    WriteBytes(dir + L"\\182-1.dvd", "\r\n  DVD7A rest\n");
    EXPECT_EQ(ReadMediaTag(dir.c_str(), nullptr, 0), 6u);
    EXPECT_EQ(ReadMediaTag(dir.c_str(), buffer, 6), 0u);
    EXPECT_STREQ(buffer, L"DVD7A");
    // A longer tag is cut at nine characters; a buffer of nine is one too small.
    WriteBytes(dir + L"\\182-1.dvd", "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(ReadMediaTag(dir.c_str(), buffer, 9), 10u);
    EXPECT_STREQ(buffer, L"DVD7A");
    wmemset(buffer, L'#', 16);
    EXPECT_EQ(ReadMediaTag(dir.c_str(), buffer, 10), 0u);
    EXPECT_EQ(std::wstring(buffer, 11), std::wstring(L"ABCDEFGHI\0#", 11));
    RemoveTree(dir);
}

TEST(SettingsFile, TokenRules) {
    std::wstring dir = MakeScratchDir(L"settings");
    std::wstring file = dir + L"\\languagesettings.txt";
    struct {
        std::string content;
        int size;
        const wchar_t* value;
    } cases[] = {
        {"lang=de", 3, L"de"},
        {"  \r\n\t lang=de more words\n", 3, L"de"},
        {"foo=ja", 3, L"ja"},         // the key is not examined
        {"lang=a=b\r\n", 4, L"a=b"},  // the first "=" splits
        {"lang=", 1, L""},
        {"lang = de", 0, L""},  // the first token is "lang"
        {"", 0, L""},
        {" \n ", 0, L""},
        // Sixty characters: only the first 49 are read.
        {"lang=" + std::string(55, 'x'), 45, nullptr},
        {std::string(50, 'k') + "=de", 0, L""},
    };
    for (const auto& c : cases) {
        WriteBytes(file, c.content);
        int queried = 0;
        std::wstring value = SettingsValue(file, &queried);
        EXPECT_EQ(queried, c.size) << c.content;
        EXPECT_EQ(value, c.value ? c.value : std::wstring(44, L'x')) << c.content;
    }
    int queried = 0;
    EXPECT_EQ(SettingsValue(dir + L"\\missing.txt", &queried), L"");
    EXPECT_EQ(queried, 0);

    WriteBytes(file, "lang=en-us");
    wchar_t buffer[8] = L"old";
    WideBuffer holder = buffer;
    EXPECT_EQ(ReadSettingsValue(file.c_str(), &holder, 5), 6);  // too small: emptied
    EXPECT_STREQ(buffer, L"");
    EXPECT_EQ(holder, buffer);
    RemoveTree(dir);
}

TEST_F(LanguageLookup, PerUserFileComesFirst) {
    WriteSettings(userFile_, "lang=fr");
    WriteSettings(installFile_, "lang=ja");
    int queried = 0;
    EXPECT_EQ(FoundCode(&queried), L"fr");
    EXPECT_EQ(queried, 3);
    EXPECT_EQ(GetLanguage(true, root_.c_str()), 2);
    EXPECT_EQ(ReadBytes(userFile_), "lang=fr");
    EXPECT_EQ(ReadBytes(installFile_), "lang=ja");
}

TEST_F(LanguageLookup, InstallLevelFileWhenNoPerUserFile) {
    WriteSettings(installFile_, "lang=ja");
    EXPECT_EQ(GetLanguage(true, root_.c_str()), 3);
    EXPECT_FALSE(DirExists(appData_));  // a known code saves nothing
}

TEST_F(LanguageLookup, LocaleWhenNoFileExists) {
    int queried = 0;
    EXPECT_EQ(FoundCode(&queried), L"de");
    EXPECT_EQ(queried, 3);
    wchar_t buffer[4] = L"old";
    WideBuffer holder = buffer;
    EXPECT_EQ(FindLanguageCode(root_.c_str(), &holder, 2), 3);
    EXPECT_STREQ(buffer, L"");
    EXPECT_EQ(GetLanguage(true, root_.c_str()), 1);
    EXPECT_FALSE(DirExists(appData_));
}

TEST_F(LanguageLookup, EmptyPerUserFileStillWins) {
    WriteSettings(userFile_, "");
    WriteSettings(installFile_, "lang=ja");
    int queried = -1;
    EXPECT_EQ(FoundCode(&queried), L"");
    EXPECT_EQ(queried, 0);
    EXPECT_EQ(GetLanguage(false, root_.c_str()), 1);
    EXPECT_EQ(ReadBytes(userFile_), "");
    EXPECT_EQ(GetLanguage(true, root_.c_str()), 1);
    EXPECT_EQ(ReadBytes(userFile_), "lang=de");
}

// Each of these leaves the choice to the locale; saving then rewrites the per-user file.
TEST_F(LanguageLookup, UnusableCodesFallBackToLocale) {
    const std::string unusable[] = {
        "lang=es",   "lang=EN-US", "lang=De", "lang=",
        "lang = fr", "lang=ja;",   "ja",      "lang=" + std::string(55, 'j'),
    };
    for (const std::string& content : unusable) {
        WriteSettings(userFile_, content);
        EXPECT_EQ(GetLanguage(false, root_.c_str()), 1) << content;
        EXPECT_EQ(ReadBytes(userFile_), content);
        EXPECT_EQ(GetLanguage(true, root_.c_str()), 1) << content;
        EXPECT_EQ(ReadBytes(userFile_), "lang=de") << content;
    }
}

// The file keeps its odd form when its code is known: nothing is rewritten.
TEST_F(LanguageLookup, KnownCodesInAnyTokenForm) {
    const struct {
        std::string content;
        LanguageIndex language;
    } cases[] = {{"foo=ja", 3}, {"\t  \r\nlang=de fr ja\r\n", 1}, {"=en-us", 0}};
    for (const auto& c : cases) {
        WriteSettings(userFile_, c.content);
        EXPECT_EQ(GetLanguage(true, root_.c_str()), c.language) << c.content;
        EXPECT_EQ(ReadBytes(userFile_), c.content);
    }
    for (LanguageIndex index = 0; index < 4; ++index) {
        wchar_t code[6];
        GetLanguageCode(index, code, 6);
        EXPECT_EQ(LanguageFromCode(code, true), index);
    }
    EXPECT_EQ(ReadBytes(userFile_), "=en-us");
}

TEST_F(LanguageLookup, SaveWritesExactBytes) {
    SaveLanguage(3, true);
    EXPECT_EQ(ListTree(appData_),
              (std::vector<std::wstring>{L"Kelda\\", L"Kelda\\v182\\",
                                         L"Kelda\\v182\\languagesettings.txt"}));
    EXPECT_EQ(ReadBytes(userFile_), "lang=ja");
    WriteSettings(userFile_, "lang=fr\r\nsomething longer than the next line");
    SaveLanguage(0, true);
    EXPECT_EQ(ReadBytes(userFile_), "lang=en-us");
    SaveLanguage(1, false);
    SaveLanguage(4, true);
    SaveLanguage(-1, true);
    EXPECT_EQ(ReadBytes(userFile_), "lang=en-us");
}

// Without "APPDATA" (unset or empty) the per-user file counts as absent and nothing is saved;
// in particular the path is not taken relative to the current drive's root.
TEST_F(LanguageLookup, NoAppDataMeansNoPerUserFile) {
    WriteSettings(userFile_, "lang=fr");
    WriteSettings(installFile_, "lang=es");
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    SetCurrentDirectoryW(scratch_.c_str());  // on the prefix's own drive
    wchar_t rooted[MAX_PATH];
    GetFullPathNameW(L"\\Kelda", MAX_PATH, rooted, nullptr);
    ASSERT_FALSE(PathExists(rooted));
    std::wstring rootedFile = std::wstring(rooted) + L"\\v182\\languagesettings.txt";
    WriteSettings(rootedFile, "lang=ja");
    for (const wchar_t* appData : {static_cast<const wchar_t*>(nullptr), L""}) {
        SetEnvironmentVariableW(L"APPDATA", appData);
        int queried = 0;
        EXPECT_EQ(FoundCode(&queried), L"es");
        EXPECT_EQ(GetLanguage(true, root_.c_str()), 1);
        SaveLanguage(2, true);
        EXPECT_EQ(ReadBytes(rootedFile), "lang=ja");
        EXPECT_EQ(ReadBytes(installFile_), "lang=es");
    }
    EXPECT_EQ(ReadBytes(userFile_), "lang=fr");
    RemoveTree(rooted);
    SetCurrentDirectoryW(cwd);
}
