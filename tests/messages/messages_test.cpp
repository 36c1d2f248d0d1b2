#include "instutil/messages.h"

#include "messages_test_ids.h"
#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>

namespace {

HINSTANCE Self() {
    return GetModuleHandleW(nullptr);
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

// The text of string baseId + offset through the size query and a fill of the size it gave.
std::wstring LoadedText(int baseId, int offset, HINSTANCE module = Self()) {
    int needed = LoadResourceText(baseId, module, offset, nullptr, 0);
    std::wstring text(static_cast<size_t>(needed), L'#');
    int filled = LoadResourceText(baseId, module, offset, &text[0], needed);
    EXPECT_EQ(filled, needed);
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

// What a test thread saw of the message box shown on another thread.
struct SeenBox {
    bool found = false;
    std::wstring title;
    std::wstring text;
    bool topmost = false;
    bool informationIcon = false;
    int visibleButtons = 0;
    bool okButton = false;
};

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM found) {
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

BOOL CALLBACK InspectBoxControl(HWND control, LPARAM seenBox) {
    SeenBox* seen = reinterpret_cast<SeenBox*>(seenBox);
    if (!IsWindowVisible(control)) return TRUE;
    wchar_t className[16] = {};
    GetClassNameW(control, className, 16);
    LONG style = GetWindowLongW(control, GWL_STYLE);
    if (_wcsicmp(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
        HICON shown = reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
        seen->informationIcon = shown != nullptr && shown == LoadIconW(nullptr, IDI_INFORMATION);
    } else if (_wcsicmp(className, L"Button") == 0) {
        ++seen->visibleButtons;
        if (GetDlgCtrlID(control) == IDOK) seen->okButton = true;
    }
    return TRUE;
}

// Waits (up to ten seconds) for a dialog box on thread `owner`, notes what it shows and closes
// it with OK. Start it before the call that shows the box; join it after that call returned.
std::thread CloseBoxWhenShown(DWORD owner, SeenBox* seen) {
    return std::thread([owner, seen] {
        HWND box = nullptr;
        for (int wait = 0; wait < 500 && box == nullptr; ++wait) {
            EnumThreadWindows(owner, FindVisibleDialog, reinterpret_cast<LPARAM>(&box));
            if (box == nullptr) Sleep(20);
        }
        if (box == nullptr) return;
        seen->found = true;
        seen->title = TextOf(box);
        seen->text = TextOf(GetDlgItem(box, 0xFFFF));
        seen->topmost = (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        EnumChildWindows(box, InspectBoxControl, reinterpret_cast<LPARAM>(seen));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
}

// Whether this platform's message boxes are made topmost by MB_TOPMOST at all (Wine 8 ignores
// the flag); found once with a box of the test's own.
bool PlatformMakesBoxesTopmost() {
    static const bool honoured = [] {
        SeenBox probe;
        std::thread closer = CloseBoxWhenShown(GetCurrentThreadId(), &probe);
        MessageBoxW(nullptr, L"probe", L"probe", MB_TOPMOST);
        closer.join();
        return probe.topmost;
    }();
    return honoured;
}

void ExpectInformationBox(const SeenBox& seen, const std::wstring& text) {
    ASSERT_TRUE(seen.found) << "no box appeared";
    EXPECT_EQ(seen.title, L"INFORMATION");
    EXPECT_EQ(seen.text, text);
    EXPECT_TRUE(seen.informationIcon);
    if (PlatformMakesBoxesTopmost()) {
        EXPECT_TRUE(seen.topmost);
    } else {
        std::printf("note: this platform ignores MB_TOPMOST; the topmost style is not checked\n");
    }
    EXPECT_EQ(seen.visibleButtons, 1);
    EXPECT_TRUE(seen.okButton);
}

}  // namespace

TEST(MessageBoxes, ShowInformationShowsTheTextAndReturnsWhenClosed) {
    const std::wstring text = L"Setup has finished.\nCaf\x00E9 \x65E5";
    SeenBox seen;
    std::thread closer = CloseBoxWhenShown(GetCurrentThreadId(), &seen);
    int result = ShowInformation(text.c_str());
    closer.join();
    EXPECT_EQ(result, IDOK);
    ExpectInformationBox(seen, text);
}

TEST(MessageBoxes, SystemErrorTextIsTheSystemsMessageInAnInformationBox) {
    wchar_t expected[512] = {};
    ASSERT_NE(
        0u, FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           ERROR_ACCESS_DENIED, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), expected,
                           512, nullptr));
    SeenBox seen;
    std::thread closer = CloseBoxWhenShown(GetCurrentThreadId(), &seen);
    ShowSystemErrorText(ERROR_ACCESS_DENIED);
    closer.join();
    ExpectInformationBox(seen, expected);
}

TEST(MessageBoxes, CodeWithoutSystemTextIsNamedInDecimalAndHex) {
    const DWORD code = 0x20000001;  // customer-defined: the system has no text for it
    wchar_t probe[64];
    ASSERT_EQ(0u, FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, probe, 64, nullptr));
    SeenBox seen;
    std::thread closer = CloseBoxWhenShown(GetCurrentThreadId(), &seen);
    ShowSystemErrorText(code);
    closer.join();
    ExpectInformationBox(seen, L"Error code 536870913 (0x20000001).");
}

TEST(ResourceText, SizesAreOneMoreThanTheUnitsWithTerminator) {
    EXPECT_EQ(LoadResourceText(IDS_HELLO, Self(), 0, nullptr, 0), 7);

    wchar_t buffer[10];
    wmemset(buffer, L'#', 10);
    EXPECT_EQ(LoadResourceText(IDS_HELLO, Self(), 0, buffer, 7), 7);
    EXPECT_STREQ(buffer, L"Hello");
    EXPECT_EQ(buffer[6], L'#');

    wmemset(buffer, L'#', 10);
    EXPECT_EQ(LoadResourceText(IDS_HELLO, Self(), 0, buffer, 6), 7) << "an exact fit";
    EXPECT_STREQ(buffer, L"Hello");
}

TEST(ResourceText, BufferTooSmallReceivesTheEmptyString) {
    for (int capacity : {1, 3, 5}) {
        wchar_t buffer[10];
        wmemset(buffer, L'#', 10);
        EXPECT_EQ(LoadResourceText(IDS_HELLO, Self(), 0, buffer, capacity), 1) << capacity;
        EXPECT_EQ(buffer[0], L'\0') << capacity;
        for (int i = capacity; i < 10; ++i) EXPECT_EQ(buffer[i], L'#') << "written past " << i;
    }
}

TEST(ResourceText, IdentifierIsBasePlusSignedOffset) {
    EXPECT_EQ(LoadedText(IDS_BASE, IDS_HELLO - IDS_BASE), L"Hello");
    EXPECT_EQ(LoadedText(IDS_HELLO + 10, -10), L"Hello");
    EXPECT_EQ(LoadedText(0, IDS_HELLO), L"Hello");
    EXPECT_EQ(LoadedText(IDS_HELLO, 0, nullptr), L"Hello") << "a null module is the program";
}

TEST(ResourceText, StoredUtf8IsReencoded) {
    EXPECT_EQ(LoadedText(IDS_ASCII, 0), L"Plain text: 0123456789 !#$%&'()*+,-./:;<=>?@[]^_`{|}~");
    EXPECT_EQ(LoadResourceText(IDS_STORED_UTF8, Self(), 0, nullptr, 0), 6);
    EXPECT_EQ(LoadedText(IDS_STORED_UTF8, 0), L"caf\x00E9");
    // Three-byte letters whose middle bytes are Windows-1252's own characters (U+201A, U+2014).
    EXPECT_EQ(LoadedText(IDS_STORED_WIDE, 0), L"\x20AC \x65E5");
    // A plain Latin-1 letter is a lone byte 0xE9, which is no UTF-8; the text stays terminated.
    EXPECT_EQ(LoadResourceText(IDS_PLAIN_LATIN, Self(), 0, nullptr, 0), 6);
    EXPECT_EQ(LoadedText(IDS_PLAIN_LATIN, 0), L"caf\xFFFD");
}

TEST(ResourceText, LongStringIsCutBeforeReencoding) {
    // The cut falls between the two stored characters of U+00E9: the lone first one is no UTF-8.
    EXPECT_EQ(LoadResourceText(IDS_LONG, Self(), 0, nullptr, 0), 4159 + 2);
    EXPECT_EQ(LoadedText(IDS_LONG, 0), std::wstring(4158, L'a') + L"\xFFFD");
}

TEST(ResourceText, MissingStringGivesTheEmptyText) {
    for (int id : {IDS_EMPTY_SLOT, IDS_NO_BLOCK}) {
        EXPECT_EQ(LoadResourceText(id, Self(), 0, nullptr, 0), 2) << id;
        wchar_t buffer[4] = {L'#', L'#', L'#', L'#'};
        EXPECT_EQ(LoadResourceText(id, Self(), 0, buffer, 2), 2) << id;
        EXPECT_EQ(buffer[0], L'\0') << id;
    }
}

// A dialog of the test program (an edit control and a static text), destroyed after each test.
class WindowText : public ::testing::Test {
protected:
    static INT_PTR CALLBACK Procedure(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

    void SetUp() override {
        dialog_ = CreateDialogParamW(Self(), MAKEINTRESOURCEW(IDD_SAMPLE), nullptr, Procedure, 0);
        ASSERT_NE(dialog_, nullptr);
        edit_ = GetDlgItem(dialog_, IDC_EDIT);
        label_ = GetDlgItem(dialog_, IDC_LABEL);
        ASSERT_NE(edit_, nullptr);
        ASSERT_NE(label_, nullptr);
    }
    void TearDown() override {
        if (dialog_ != nullptr) DestroyWindow(dialog_);
    }

    HWND dialog_ = nullptr;
    HWND edit_ = nullptr;
    HWND label_ = nullptr;
};

TEST_F(WindowText, DialogItemsReceiveReencodedResourceText) {
    SetDialogItemResourceText(IDS_ASCII, Self(), dialog_, IDC_EDIT, 0);
    EXPECT_EQ(TextOf(edit_), L"Plain text: 0123456789 !#$%&'()*+,-./:;<=>?@[]^_`{|}~");
    SetDialogItemResourceText(IDS_BASE, Self(), dialog_, IDC_LABEL, IDS_STORED_UTF8 - IDS_BASE);
    EXPECT_EQ(TextOf(label_), L"caf\x00E9");
    SetDialogItemResourceText(IDS_PLAIN_LATIN, Self(), dialog_, IDC_EDIT, 0);
    EXPECT_EQ(TextOf(edit_), L"caf\xFFFD");
    SetDialogItemResourceText(IDS_LONG, Self(), dialog_, IDC_LABEL, 0);
    EXPECT_EQ(TextOf(label_), std::wstring(4158, L'a') + L"\xFFFD");
    // A string the program does not hold empties the item.
    SetDialogItemResourceText(IDS_EMPTY_SLOT, Self(), dialog_, IDC_LABEL, 0);
    EXPECT_EQ(TextOf(label_), L"");
    EXPECT_EQ(TextOf(dialog_), L"Sample");
}

TEST_F(WindowText, WindowsReceiveReencodedResourceText) {
    SetWindowResourceText(IDS_STORED_WIDE, Self(), dialog_, 0);
    EXPECT_EQ(TextOf(dialog_), L"\x20AC \x65E5");
    SetWindowResourceText(IDS_HELLO + 1, Self(), edit_, -1);
    EXPECT_EQ(TextOf(edit_), L"Hello");
    EXPECT_EQ(TextOf(label_), L"Label");
}

TEST_F(WindowText, DialogItemStringIsSetUnchanged) {
    EXPECT_NE(SetDialogItemString(L"caf\x00C3\x00A9", dialog_, IDC_EDIT), FALSE);
    EXPECT_EQ(TextOf(edit_), L"caf\x00C3\x00A9");
    EXPECT_NE(SetDialogItemString(L"", dialog_, IDC_LABEL), FALSE);
    EXPECT_EQ(TextOf(label_), L"");
}

TEST_F(WindowText, MissingDialogItemChangesNothing) {
    const int missing = 999;
    EXPECT_EQ(SetDialogItemString(L"changed", dialog_, missing), FALSE);
    SetDialogItemResourceText(IDS_HELLO, Self(), dialog_, missing, 0);
    EXPECT_EQ(TextOf(dialog_), L"Sample");
    EXPECT_EQ(TextOf(edit_), L"");
    EXPECT_EQ(TextOf(label_), L"Label");
}
