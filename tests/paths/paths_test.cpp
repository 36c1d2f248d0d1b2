#include "instutil/paths.h"

#include "test_support.h"

#include <algorithm>
#include <cwchar>
#include <string>

namespace {

// A release-information file in a scratch folder, read with the size query and the fill.
struct ReleaseRead {
    int queried;
    int filled;
    std::wstring value;
};

ReleaseRead ReadValue(const std::wstring& file, const char* key) {
    ReleaseRead read;
    read.queried = ReadReleaseValue(file.c_str(), key, nullptr, 0);
    WideBuffer buffer = AllocWideBuffer(read.queried);
    read.filled = ReadReleaseValue(file.c_str(), key, &buffer, read.queried);
    read.value = buffer;
    FreeAndClear(&buffer);
    return read;
}

class ReleaseFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeScratchDir(L"relinfo");
        file_ = dir_ + L"\\relinfo.xml";
    }
    void TearDown() override { RemoveTree(dir_); }
    ReleaseRead Read(const std::string& content, const char* key = "startMenuFolderName") {
        WriteBytes(file_, content);
        return ReadValue(file_, key);
    }
    std::wstring dir_;
    std::wstring file_;
};

}  // namespace

TEST(JoinStrings, SkipsNullsAndJoinsInOrder) {
    WideBuffer joined = JoinStrings(4, L"a", nullptr, L"bc", L"");
    EXPECT_STREQ(joined, L"abc");
    FreeAndClear(&joined);
    EXPECT_EQ(joined, nullptr);
    WideBuffer empty = JoinStrings(0);
    EXPECT_STREQ(empty, L"");
    FreeAndClear(&empty);
    FreeAndClear(&empty);  // a null pointer is left alone
}

TEST(PathArithmetic, RemoveLastPathComponent) {
    wchar_t file[] = L"C:\\a\\b\\name.exe";
    EXPECT_TRUE(RemoveLastPathComponent(file));
    EXPECT_STREQ(file, L"C:\\a\\b\\");
    EXPECT_TRUE(RemoveLastPathComponent(file));  // trailing backslash: the last directory goes
    EXPECT_STREQ(file, L"C:\\a\\");
    wchar_t bare[] = L"name";
    EXPECT_FALSE(RemoveLastPathComponent(bare));
    EXPECT_STREQ(bare, L"name");
    wchar_t root[] = L"C:\\";
    EXPECT_TRUE(RemoveLastPathComponent(root));
    EXPECT_STREQ(root, L"C:\\");
}

TEST(PathArithmetic, StripPathLevelsRemovesFiveComponents) {
    wchar_t out[64];
    StripPathLevels(L"C:\\root\\d1\\d2\\d3\\d4\\prog.exe", out);
    EXPECT_STREQ(out, L"C:\\root");
    StripPathLevels(L"C:\\x\\y\\root\\d1\\d2\\d3\\d4\\prog.exe", out);
    EXPECT_STREQ(out, L"C:\\x\\y\\root");
    StripPathLevels(L"C:\\d1\\d2\\d3\\d4\\prog.exe", out);
    EXPECT_STREQ(out, L"C:\\");
    StripPathLevels(L"C:\\d2\\prog.exe", out);
    EXPECT_STREQ(out, L"C:\\");
}

TEST(PathArithmetic, ToUpperAsciiChangesOnlyAtoZ) {
    wchar_t out[16];
    ToUpperAscii(L"az\x00E9Z1-\x00DF", out);
    EXPECT_STREQ(out, L"AZ\x00E9Z1-\x00DF");
}

TEST(ModulePath, SizeQueriesAskForTheWholeModulePath) {
    wchar_t expected[600];
    DWORD length = GetModuleFileNameW(nullptr, expected, 600);

    EXPECT_EQ(GetModulePath(nullptr, 0), length + 1);
    wchar_t path[600];
    wcscpy(path, L"untouched");
    EXPECT_EQ(GetModulePath(path, length), length + 1);
    EXPECT_STREQ(path, L"untouched");
    EXPECT_EQ(GetModulePath(path, length + 1), 0u);
    EXPECT_STREQ(path, expected);

    // The root needs the module path's capacity, not its own.
    EXPECT_EQ(GetInstallRoot(nullptr, 0), length + 1);
    wchar_t root[600];
    EXPECT_EQ(GetInstallRoot(root, length), length + 1);
    EXPECT_EQ(GetInstallRoot(root, length + 1), 0u);
    wchar_t stripped[600];
    StripPathLevels(expected, stripped);
    EXPECT_STREQ(root, stripped);
}

TEST(Directories, CreateDirectoryTreeEnsureDirectoryAndPathExists) {
    std::wstring dir = MakeScratchDir(L"dirs");
    std::wstring deep = dir + L"\\one\\two\\three";
    EXPECT_FALSE(PathExists(deep.c_str()));
    EXPECT_EQ(CreateDirectoryTree(deep.c_str()), 0);
    EXPECT_TRUE(DirExists(deep));

    // Nothing can be created below a file; still 0.
    WriteBytes(dir + L"\\file", "x");
    EXPECT_EQ(CreateDirectoryTree((dir + L"\\file\\a\\b").c_str()), 0);
    EXPECT_FALSE(PathExists((dir + L"\\file\\a").c_str()));

    // An existing file counts as there; only one level is created.
    EXPECT_TRUE(EnsureDirectory((dir + L"\\file").c_str()));
    EXPECT_TRUE(FileExists(dir + L"\\file"));
    EXPECT_TRUE(EnsureDirectory((dir + L"\\new").c_str()));
    EXPECT_TRUE(DirExists(dir + L"\\new"));
    EXPECT_FALSE(EnsureDirectory((dir + L"\\x\\y").c_str()));
    RemoveTree(dir);
}

// The file system under Wine keeps no access lists of its own, so only the creation shows here.
TEST(Directories, CreateOpenDirectoryCreatesOneLevel) {
    std::wstring dir = MakeScratchDir(L"open");
    std::wstring open = dir + L"\\shared";
    EXPECT_EQ(CreateOpenDirectory(open.c_str()), 0);
    ASSERT_TRUE(DirExists(open));
    EXPECT_EQ(CreateOpenDirectory((dir + L"\\missing\\child").c_str()), 0);
    EXPECT_FALSE(PathExists((dir + L"\\missing").c_str()));

    RemoveTree(dir);
}

TEST(ReadWholeFile, ReadsExactBytesAndNeverCreatesAFile) {
    std::wstring dir = MakeScratchDir(L"read");
    std::string bytes("a\0b\r\n\xff", 6);
    WriteBytes(dir + L"\\data", bytes);
    BYTE* content = nullptr;
    DWORD length = 0;
    EXPECT_EQ(ReadWholeFile((dir + L"\\data").c_str(), &content, &length), 1);
    ASSERT_EQ(length, 6u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(content), length), bytes);
    delete[] content;

    WriteBytes(dir + L"\\empty", "");
    content = nullptr;
    EXPECT_EQ(ReadWholeFile((dir + L"\\empty").c_str(), &content, &length), 1);
    EXPECT_EQ(length, 0u);
    delete[] content;

    BYTE sentinel = 0;
    content = &sentinel;
    EXPECT_EQ(ReadWholeFile((dir + L"\\missing").c_str(), &content), 0);
    EXPECT_EQ(content, &sentinel);
    EXPECT_FALSE(PathExists((dir + L"\\missing").c_str()));
    RemoveTree(dir);
}

TEST_F(ReleaseFileTest, FirstOccurrenceDecidesEvenInsideOtherText) {
    ReleaseRead read = Read(
        "<!-- startMenuFolderNameOld=\"Old\" -->\n"
        "<startMenuFolderName value=\"Suite 18\"/>\n");
    EXPECT_EQ(read.value, L"Old");
    EXPECT_EQ(read.queried, 4);
    EXPECT_EQ(read.filled, 4);

    read = Read("<a startMenuFolderName=\"multi\nline \\\" />");
    EXPECT_EQ(read.value, L"multi\nline \\");
}

TEST_F(ReleaseFileTest, MissingKeyOneQuoteAndEmptyValueGiveTheEmptyString) {
    for (const char* content : {"<x startMenuFolderName=\"open", "<x other=\"v\"/>",
                                "<x startMenuFolderName=\"\"/>", "", "\"a\" startMenuFolderName"}) {
        ReleaseRead read = Read(content);
        EXPECT_EQ(read.queried, 1) << content;
        EXPECT_EQ(read.filled, 1) << content;
        EXPECT_EQ(read.value, L"") << content;
    }
    // The key is matched case-sensitively, and the text ends at the first zero byte.
    EXPECT_EQ(Read("<x STARTMENUFOLDERNAME=\"v\"/>").queried, 1);
    EXPECT_EQ(Read(std::string("<x startMenuFolderName=\"v\0\"/>", 29)).queried, 1);
    EXPECT_EQ(Read(std::string("<x>\0 startMenuFolderName=\"v\"/>", 30)).queried, 1);
    EXPECT_EQ(
        Read(std::string(40, ' ') + "startMenuFolderName=\"v\"" + std::string(1, '\0')).queried, 2);
}

TEST_F(ReleaseFileTest, NonAsciiValueKeepsItsByteCountAsSize) {
    // "Süite 日本" in UTF-8: 13 bytes, 8 characters; the size counts bytes.
    ReleaseRead read = Read("<x startMenuFolderName=\"S\xC3\xBCite \xE6\x97\xA5\xE6\x9C\xAC\"/>");
    EXPECT_EQ(read.queried, 14);
    EXPECT_EQ(read.filled, 14);
    EXPECT_EQ(read.value, L"S\x00FCite \x65E5\x672C");
}

TEST_F(ReleaseFileTest, Utf16FileYieldsNothing) {
    std::wstring text = L"<x startMenuFolderName=\"v\"/>";
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    EXPECT_EQ(Read(bytes).queried, 1);
}

TEST_F(ReleaseFileTest, MissingFileStaysMissing) {
    ReleaseRead read = ReadValue(file_, "startMenuFolderName");
    EXPECT_EQ(read.queried, 1);
    EXPECT_EQ(read.value, L"");
    EXPECT_FALSE(FileExists(file_));
    EXPECT_EQ(ReadValue(dir_ + L"\\no\\relinfo.xml", "startMenuFolderName").queried, 1);
}

TEST_F(ReleaseFileTest, FillNeverWritesPastTheQueriedSize) {
    WriteBytes(file_, "<x startMenuFolderName=\"abc\"/>");
    int queried = ReadReleaseValue(file_.c_str(), kStartMenuFolderNameKey, nullptr, 0);
    ASSERT_EQ(queried, 4);
    // The file grows between the query and the fill.
    WriteBytes(file_, "<x startMenuFolderName=\"a much longer value\"/>");
    wchar_t guarded[16];
    wmemset(guarded, L'#', 16);
    WideBuffer buffer = guarded;
    EXPECT_EQ(ReadReleaseValue(file_.c_str(), kStartMenuFolderNameKey, &buffer, queried), 20);
    EXPECT_EQ(guarded[0], L'\0');
    for (int i = queried; i < 16; ++i) EXPECT_EQ(guarded[i], L'#') << i;
}

namespace {

// ReadFile as it behaves when the file shrank after its size was taken, or when a read fails
// part-way: only the first `deliverable` bytes come through, then the end of the file (or a
// failure), and whatever the caller's buffer holds past them is a release value the file never
// had, as stale memory might.
struct ShortRead {
    static DWORD deliverable;
    static bool failAtEnd;
    static decltype(&ReadFile) realReadFile;

    static BOOL WINAPI Read(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD got,
                            LPOVERLAPPED overlapped) {
        static const char kStale[] = "startMenuFolderName=\"stale\" ";
        for (DWORD i = 0; i < toRead; ++i) {
            static_cast<char*>(buffer)[i] = kStale[i % (sizeof(kStale) - 1)];
        }
        DWORD allowed = std::min(toRead, deliverable);
        if (allowed == 0 && failAtEnd) {
            *got = 0;
            SetLastError(ERROR_READ_FAULT);
            return FALSE;
        }
        BOOL ok = realReadFile(file, buffer, allowed, got, overlapped);
        deliverable -= *got;
        return ok;
    }
};
DWORD ShortRead::deliverable = 0;
bool ShortRead::failAtEnd = false;
decltype(&ReadFile) ShortRead::realReadFile = nullptr;

}  // namespace

TEST_F(ReleaseFileTest, OnlyTheBytesReadAreSearched) {
    // The value lies in the file's first 40 bytes.
    WriteBytes(file_, "<r startMenuFolderName=\"Suite\"/>" + std::string(200, ' '));
    struct Case {
        DWORD deliverable;
        bool failAtEnd;
        int queried;
        const wchar_t* value;
    };
    for (const Case& read : {Case{40, false, 6, L"Suite"}, Case{40, true, 6, L"Suite"},
                             Case{10, false, 1, L""}, Case{10, true, 1, L""}}) {
        SCOPED_TRACE(testing::Message() << read.deliverable << (read.failAtEnd ? " failing" : ""));
        KernelImportPatch patch("ReadFile", reinterpret_cast<const void*>(&ShortRead::Read));
        ShortRead::realReadFile = patch.original<decltype(&ReadFile)>();
        ShortRead::failAtEnd = read.failAtEnd;

        ShortRead::deliverable = read.deliverable;
        EXPECT_EQ(ReadReleaseValue(file_.c_str(), kStartMenuFolderNameKey, nullptr, 0),
                  read.queried);
        ShortRead::deliverable = read.deliverable;
        WideBuffer value = AllocWideBuffer(16);
        ReadReleaseValue(file_.c_str(), kStartMenuFolderNameKey, &value, 16);
        EXPECT_STREQ(value, read.value);
        FreeAndClear(&value);

        // ReadWholeFile reports the bytes it read.
        ShortRead::deliverable = read.deliverable;
        BYTE* content = nullptr;
        DWORD length = 0;
        EXPECT_EQ(ReadWholeFile(file_.c_str(), &content, &length), read.failAtEnd ? 0 : 1);
        EXPECT_EQ(length, read.deliverable);
        delete[] content;
    }
}

TEST_F(ReleaseFileTest, LocalRevisionTagComesFromBesideTheProgram) {
    std::wstring local = ThisProgramDir() + L"relinfo.xml";
    WriteBytes(local, "<r startMenuShortcutAppendRevision=\"19.2\"/>");
    WideBuffer revision = FetchReleaseValue(GetLocalRevisionTag);
    EXPECT_STREQ(revision, L"19.2");
    FreeAndClear(&revision);
    DeleteFileW(local.c_str());
    revision = FetchReleaseValue(GetLocalRevisionTag);
    EXPECT_STREQ(revision, L"");
    FreeAndClear(&revision);
}
