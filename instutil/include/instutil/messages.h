// Message boxes and localized string-resource text for dialogs and windows.
//
// String resources read here hold UTF-8 text stored one byte per character, each byte as the
// Windows-1252 character of that value (plain ASCII reads the same either way). The text is
// re-encoded on the way out: the characters go back to their code page 1252 bytes, and those
// bytes are decoded as UTF-8, so the stored pair U+00C3 U+00A9 becomes U+00E9. Bytes that are
// not valid UTF-8 become U+FFFD. At most the first 4159 characters of a string are used.
//
// No operation keeps state or takes ownership of anything passed in; every buffer it allocates
// is released before it returns.
#pragma once

#include <windows.h>

// The buffer a string resource is read into: longer strings are cut to its size less one.
constexpr int kResourceTextChars = 4160;

// Shows `text` in a message box without owner, titled "INFORMATION", with the information icon,
// a single OK button, topmost and brought to the foreground. Blocks until the box is closed and
// returns what MessageBoxW returned (IDOK, or 0 when no box could be shown).
// `text`: zero-terminated, the caller's.
int ShowInformation(const wchar_t* text);

// Shows the system's message text for `code` (a system error code, as from GetLastError), in
// the user's language, through ShowInformation. A code without system text shows
// "Error code <decimal> (0x<hexadecimal>)." instead. Blocks until the box is closed.
void ShowSystemErrorText(DWORD code);

// Reads the string resource baseId + offset of `module` and re-encodes it (see above) into
// `buffer`; a negative offset counts down from baseId. A null `module` means the running
// executable. A string the module does not hold gives the empty text.
//
// `buffer`, `capacity`: the caller's buffer and its size in UTF-16 units (the buffer stays the
// caller's), or null and 0 to ask for the size. Both calls return one more than the units of
// the text with its terminator: the size query returns the capacity needed + 1; a fill with
// room enough writes the text and its terminator and returns the units written + 1. A buffer
// too small for the text receives the empty string and the result is 1 (also for a null buffer
// with a nonzero capacity). Nothing is ever written past `capacity` units, and a filled text is
// always terminated.
int LoadResourceText(int baseId, HINSTANCE module, int offset, wchar_t* buffer, int capacity);

// Sets the text of the dialog item `itemId` of `dialog` to the re-encoded string resource
// baseId + offset of `module`. An item that does not exist is left alone; nothing is reported.
void SetDialogItemResourceText(int baseId, HINSTANCE module, HWND dialog, int itemId, int offset);

// Sets the text of `window` (a window's caption, or a control's content) to the re-encoded
// string resource baseId + offset of `module`. Nothing is reported.
void SetWindowResourceText(int baseId, HINSTANCE module, HWND window, int offset);

// Sets the text of the dialog item `itemId` of `dialog` to `text` as it is. Returns what
// SetWindowTextW returned: nonzero on success, 0 when it failed or the item does not exist.
// `text`: zero-terminated, the caller's.
BOOL SetDialogItemString(const wchar_t* text, HWND dialog, int itemId);
