#include "instutil/messages.h"

#include "instutil/owners.h"
#include "instutil/paths.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr wchar_t kInformationTitle[] = L"INFORMATION";
// MB_TOPMOST | MB_SETFOREGROUND | MB_ICONINFORMATION with the default OK button: 0x50040.
constexpr UINT kInformationStyle = MB_TOPMOST | MB_SETFOREGROUND | MB_ICONINFORMATION;
// The code page resource characters stand for, and the encoding of the bytes they make.
constexpr UINT kStoredCodePage = 1252;
// Room for "Error code 4294967295 (0xFFFFFFFF)." and its terminator.
constexpr size_t kFallbackTextChars = 64;

// The re-encoded resource string in a new WideBuffer (the empty string when there is none).
WideBufferPtr FetchResourceText(int baseId, HINSTANCE module, int offset) {
    int needed = LoadResourceText(baseId, module, offset, nullptr, 0);
    WideBufferPtr text(AllocWideBuffer(static_cast<size_t>(needed)));
    LoadResourceText(baseId, module, offset, text.get(), needed);
    return text;
}

}  // namespace

int ShowInformation(const wchar_t* text) {
    return MessageBoxW(nullptr, text, kInformationTitle, kInformationStyle);
}

void ShowSystemErrorText(DWORD code) {
    wchar_t* systemText = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&systemText), 0, nullptr);
    UniqueLocal owner = OwnLocal(systemText);
    if (length != 0 && systemText != nullptr) {
        ShowInformation(systemText);
        return;
    }
    // No system text for this code: name the code instead of showing an empty box.
    wchar_t fallback[kFallbackTextChars];
    swprintf(fallback, kFallbackTextChars, L"Error code %lu (0x%08lX).", code, code);
    ShowInformation(fallback);
}

int LoadResourceText(int baseId, HINSTANCE module, int offset, wchar_t* buffer, int capacity) {
    // LoadStringW may leave the buffer untouched when the module has no such string.
    wchar_t local[kResourceTextChars];
    UINT id = static_cast<UINT>(baseId) + static_cast<UINT>(offset);
    if (LoadStringW(module, id, local, kResourceTextChars) <= 0) local[0] = L'\0';
    int units = static_cast<int>(wcslen(local)) + 1;

    // Every character back to its code page 1252 byte; the extra zero byte keeps the bytes
    // terminated whatever the conversion does.
    int measured =
        WideCharToMultiByte(kStoredCodePage, 0, local, units, nullptr, 0, nullptr, nullptr);
    BytesPtr bytes(new BYTE[static_cast<size_t>(measured) + 1]());
    WideCharToMultiByte(kStoredCodePage, 0, local, units, reinterpret_cast<char*>(bytes.get()),
                        measured, nullptr, nullptr);

    // Decode the bytes without their zero and terminate the text here: some decoders take the
    // zero into a cut-off sequence at the end (a lone 0xE9) and would leave the text open.
    const char* utf8 = reinterpret_cast<const char*>(bytes.get());
    int length = static_cast<int>(strlen(utf8));
    int decoded = length == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, utf8, length, nullptr, 0);
    int needed = decoded + 1;
    if (capacity == 0) return needed + 1;
    if (buffer == nullptr || capacity < needed) {
        // Too small: the caller gets the empty string rather than part of the text.
        if (buffer != nullptr && capacity > 0) buffer[0] = L'\0';
        return 1;
    }
    if (decoded > 0) MultiByteToWideChar(CP_UTF8, 0, utf8, length, buffer, decoded);
    buffer[decoded] = L'\0';
    return needed + 1;
}

void SetDialogItemResourceText(int baseId, HINSTANCE module, HWND dialog, int itemId, int offset) {
    WideBufferPtr text = FetchResourceText(baseId, module, offset);
    HWND item = GetDlgItem(dialog, itemId);
    if (item != nullptr) SetWindowTextW(item, text.get());
}

void SetWindowResourceText(int baseId, HINSTANCE module, HWND window, int offset) {
    WideBufferPtr text = FetchResourceText(baseId, module, offset);
    SetWindowTextW(window, text.get());
}

BOOL SetDialogItemString(const wchar_t* text, HWND dialog, int itemId) {
    HWND item = GetDlgItem(dialog, itemId);
    if (item == nullptr) return FALSE;
    return SetWindowTextW(item, text);
}
