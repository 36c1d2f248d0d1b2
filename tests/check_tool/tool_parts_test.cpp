// The support tool's parts that need no install: how it shows hostile text, and which paths and
// drives it counts as local.
#include <gtest/gtest.h>

#include "escape.h"
#include "files.h"

#include <string>

TEST(ToolEscape, EveryInvisibleCodePointIsEscapedForAPerson) {
    // Soft hyphen, combining grapheme joiner, Hangul fillers, Mongolian vowel separator,
    // variation selector, zero-width joiner, bidi override, no-break space, BOM, and a tag
    // character (a surrogate pair).
    const std::wstring text =
        L"a\x00AD\x034F\x115F\x3164\xFFA0\x180E\xFE0F\x200D\x202E\x00A0\xFEFF\xDB40\xDC41z";
    EXPECT_EQ(EscapeForPerson(text, 100),
              L"a<U+00AD><U+034F><U+115F><U+3164><U+FFA0><U+180E><U+FE0F><U+200D><U+202E>"
              L"<U+00A0><U+FEFF><U+E0041>z");
    // Controls, the notation's own characters and lone halves; visible text is left alone.
    EXPECT_EQ(EscapeForPerson(L"\x1b[2J<\"\xD800 \x00E9\x4E2D\xD83D\xDE00", 100),
              L"<U+001B>[2J<U+003C><U+0022><U+D800> \x00E9\x4E2D\xD83D\xDE00");
    EXPECT_TRUE(IsHiddenCodePoint(0xE0100));  // a variation selector of the supplement
    EXPECT_FALSE(IsHiddenCodePoint(U'A'));
    EXPECT_FALSE(IsHiddenCodePoint(0x1F600));
}

TEST(ToolEscape, CuttingNeverSplitsAPairAndSaysWhatWasLeftOff) {
    bool cut = false;
    EXPECT_EQ(CutText(L"ab\xD83D\xDE00", 3, &cut), L"ab");
    EXPECT_TRUE(cut);
    EXPECT_EQ(CutText(L"ab", 2, &cut), L"ab");
    EXPECT_FALSE(cut);
    EXPECT_EQ(EscapeForPerson(L"abcdef", 2), L"ab...(4 more characters)");
}

TEST(ToolEscape, JsonTextIsPlainAsciiAndExact) {
    EXPECT_EQ(EscapeForJson(L"a\"b\\c\x1b\x00AD\xD83D\xDE00<U+0022>"),
              L"a\\\"b\\\\c\\u001b\\u00ad\\ud83d\\ude00<U+0022>");
    EXPECT_EQ(EscapeForJson(L"\xDC00x\xD800"), L"\\ufffdx\\ufffd");  // lone halves
}

TEST(ToolFiles, OnlyLocalDrivePathsAreLocal) {
    EXPECT_TRUE(IsLocalPath(L"C:\\windows\\notepad.exe"));
    EXPECT_TRUE(IsLocalPath(L"\\\\?\\C:\\windows"));
    EXPECT_TRUE(IsLocalPath(L"relative\\path"));  // on the current, local drive
    for (const wchar_t* path :
         {L"\\\\host\\share\\vxstart.exe", L"//host/share/vxstart.exe", L"\\/host\\share\\x",
          L"\\\\?\\UNC\\host\\share\\x", L"\\\\.\\pipe\\x", L"\\\\?\\GLOBALROOT\\Device\\Mup\\h\\s",
          L"Q:\\no such drive", L""}) {
        EXPECT_FALSE(IsLocalPath(path)) << testing::PrintToString(std::wstring(path));
        EXPECT_FALSE(IsLocalFile(path));
    }
}

TEST(ToolFiles, DrivesOnNetworkSharesAreNotLocal) {
    // What QueryDosDeviceW answers on Windows for a drive: substituted onto a share, mapped to a
    // share (one answer per redirector), a volume, and substituted onto a local folder.
    for (const wchar_t* network :
         {L"\\??\\UNC\\server\\share", L"\\??\\unc\\server\\share\\folder",
          L"\\Device\\LanmanRedirector\\;Z:0000000000012345\\server\\share",
          L"\\Device\\Mup\\;Z:0000000000012345\\server\\share",
          L"\\Device\\WebDavRedirector\\;W:00000000000a1b2c\\host\\DavWWWRoot",
          L"\\Device\\RdpDr\\;T:1\\tsclient\\C", L"\\??\\Volume{0a1b}\\"}) {
        wchar_t onto = 0;
        EXPECT_EQ(ClassifyDriveDevice(network, &onto), DriveDevice::kNotLocal)
            << testing::PrintToString(std::wstring(network));
    }
    wchar_t onto = 0;
    EXPECT_EQ(ClassifyDriveDevice(L"\\Device\\HarddiskVolume3", &onto), DriveDevice::kLocal);
    EXPECT_EQ(ClassifyDriveDevice(L"\\Device\\CdRom0", &onto), DriveDevice::kLocal);
    EXPECT_EQ(ClassifyDriveDevice(L"\\??\\d:\\folder", &onto), DriveDevice::kSubstituted);
    EXPECT_EQ(onto, L'D');
}
