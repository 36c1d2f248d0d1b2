#include "instutil/language.h"

#include "instutil/owners.h"

#include <cstdio>
#include <cwchar>
#include <memory>

// Locale identifiers per language, in this order.
const LCID kJapaneseLocales[1] = {0x0411};
const LCID kGermanLocales[5] = {0x0407, 0x0C07, 0x1407, 0x1007, 0x0807};
const LCID kFrenchLocales[16] = {0x040C, 0x080C, 0x2C0C, 0x0C0C, 0x240C, 0x300C, 0x3C0C, 0x140C,
                                 0x340C, 0x180C, 0x380C, 0xE40C, 0x200C, 0x280C, 0x100C, 0x1C0C};
const LCID kEnglishLocales[18] = {0x0409, 0x0809, 0x0C09, 0x2809, 0x1009, 0x2409,
                                  0x3C09, 0x4009, 0x3809, 0x1809, 0x2009, 0x4409,
                                  0x1409, 0x3409, 0x4809, 0x1C09, 0x2C09, 0x3009};

namespace {

constexpr const wchar_t* kLanguageCodes[] = {L"en-us", L"de", L"fr", L"ja"};
constexpr LanguageIndex kLanguageCount = 4;

constexpr wchar_t kReleaseNumber[] = L"182";
constexpr wchar_t kVersionFolderPrefix[] = L"v";
constexpr wchar_t kReleaseRootPrefix[] = L"KDX_ROOT";
constexpr wchar_t kMediaTagSuffix[] = L"-1.dvd";

constexpr wchar_t kAppDataVariable[] = L"APPDATA";
constexpr wchar_t kVendorFolder[] = L"\\Kelda";
constexpr wchar_t kInstallLanguageFolder[] = L"\\commonfiles\\Language";
constexpr wchar_t kSettingsFileName[] = L"\\languagesettings.txt";
constexpr wchar_t kSettingsKeyPrefix[] = L"lang=";

// Longest token read from a settings file and from the media tag file; the rest is cut.
constexpr size_t kSettingsTokenLimit = 49;
constexpr size_t kMediaTagLimit = 9;

bool IsTokenBlank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the first whitespace-delimited token of the single-byte text file `path` into `token`,
// which holds `limit` + 1 characters; a longer token is cut at `limit`. A file that cannot be
// opened gives the empty token.
void ReadFirstToken(const wchar_t* path, wchar_t* token, size_t limit) {
    token[0] = L'\0';
    UniqueStdioFile file(_wfopen(path, L"r"));
    if (!file) return;
    int c = fgetc(file.get());
    while (c != EOF && IsTokenBlank(c)) c = fgetc(file.get());
    size_t length = 0;
    while (c != EOF && !IsTokenBlank(c) && length < limit) {
        token[length++] = static_cast<wchar_t>(static_cast<unsigned char>(c));
        c = fgetc(file.get());
    }
    token[length] = L'\0';
}

// Copies `text` (of `size` characters with its terminator) into `buffer` when it fits:
// 0 when copied, else `size`.
DWORD CopyIfFits(const wchar_t* text, DWORD size, wchar_t* buffer, DWORD capacity) {
    if (!buffer || capacity < size) return size;
    wmemcpy(buffer, text, size);
    return 0;
}

// "182" and "v182", each in a new buffer.
WideBufferPtr ReleaseNumberText() {
    return WideBufferPtr(JoinStrings(1, kReleaseNumber));
}
WideBufferPtr VersionFolderText() {
    return WideBufferPtr(JoinStrings(2, kVersionFolderPrefix, kReleaseNumber));
}

// The value of APPDATA, or null when it is unset or empty.
WideBufferPtr ReadAppData() {
    DWORD needed = GetEnvironmentVariableW(kAppDataVariable, nullptr, 0);
    if (needed == 0) return nullptr;
    WideBufferPtr value(AllocWideBuffer(needed));
    DWORD length = GetEnvironmentVariableW(kAppDataVariable, value.get(), needed);
    if (length == 0 || length >= needed) return nullptr;
    return value;
}

// %APPDATA%\Kelda\v182\languagesettings.txt, or null when APPDATA is unset or empty.
WideBufferPtr PerUserSettingsPath() {
    WideBufferPtr appData = ReadAppData();
    if (!appData) return nullptr;
    WideBufferPtr version = VersionFolderText();
    return WideBufferPtr(
        JoinStrings(5, appData.get(), kVendorFolder, L"\\", version.get(), kSettingsFileName));
}

// <root>\commonfiles\Language\languagesettings.txt, or null without a root.
WideBufferPtr InstallSettingsPath(const wchar_t* root) {
    if (!root) return nullptr;
    return WideBufferPtr(JoinStrings(3, root, kInstallLanguageFolder, kSettingsFileName));
}

// The value of the settings file at `path` copied into `buffer` when it fits: 0 when copied,
// else the value's size (0 when the file yields no value).
DWORD CopySettingsValue(const wchar_t* path, wchar_t* buffer, DWORD capacity) {
    DWORD needed = static_cast<DWORD>(ReadSettingsValue(path, nullptr, 0));
    DWORD chars = needed > 0 ? needed : 1;
    WideBufferPtr value(AllocWideBuffer(chars));
    WideBuffer holder = value.get();
    // A file rewritten since the size query leaves the value empty rather than overrunning.
    ReadSettingsValue(path, &holder, chars);
    if (!buffer || capacity < needed) return needed;
    DWORD size = static_cast<DWORD>(wcslen(value.get())) + 1;
    if (capacity >= size) wmemcpy(buffer, value.get(), size);
    return 0;
}

}  // namespace

LanguageIndex DetectLanguageFromLocale() {
    LCID locale = GetUserDefaultLCID();
    if (!IsValidLocale(locale, LCID_INSTALLED)) return kLanguageEnglish;
    for (LCID entry : kEnglishLocales)
        if (entry == locale) return kLanguageEnglish;
    for (LCID entry : kGermanLocales)
        if (entry == locale) return kLanguageGerman;
    for (LCID entry : kFrenchLocales)
        if (entry == locale) return kLanguageFrench;
    if (kJapaneseLocales[0] == locale) return kLanguageJapanese;
    return kLanguageEnglish;
}

int GetLanguageCode(LanguageIndex index, wchar_t* buffer, DWORD capacity) {
    if (!buffer) capacity = 0;
    if (capacity >= 2) buffer[0] = L'\0';
    if (index < 0 || index >= kLanguageCount) return 0;
    const wchar_t* code = kLanguageCodes[index];
    DWORD size = static_cast<DWORD>(wcslen(code)) + 1;
    if (capacity >= size) wmemcpy(buffer, code, size);
    return static_cast<int>(size);
}

int ReadSettingsValue(const wchar_t* path, WideBuffer* holder, DWORD capacity) {
    wchar_t* buffer = holder ? *holder : nullptr;
    if (!buffer) capacity = 0;
    if (capacity >= 1) buffer[0] = L'\0';

    wchar_t token[kSettingsTokenLimit + 1];
    ReadFirstToken(path, token, kSettingsTokenLimit);
    // The key before the "=" is not examined.
    const wchar_t* equals = wcschr(token, L'=');
    if (!equals) return 0;
    const wchar_t* value = equals + 1;
    DWORD size = static_cast<DWORD>(wcslen(value)) + 1;
    if (capacity >= size) wmemcpy(buffer, value, size);
    return static_cast<int>(size);
}

DWORD GetReleaseNumber(wchar_t* buffer, DWORD capacity) {
    WideBufferPtr text = ReleaseNumberText();
    return CopyIfFits(text.get(), static_cast<DWORD>(wcslen(text.get())) + 1, buffer, capacity);
}

DWORD GetVersionFolderName(wchar_t* buffer, DWORD capacity) {
    WideBufferPtr text = VersionFolderText();
    return CopyIfFits(text.get(), static_cast<DWORD>(wcslen(text.get())) + 1, buffer, capacity);
}

DWORD ReadMediaTag(const wchar_t* directory, wchar_t* buffer, DWORD capacity) {
    WideBufferPtr release = ReleaseNumberText();
    WideBufferPtr path(JoinStrings(4, directory, L"\\", release.get(), kMediaTagSuffix));
    wchar_t tag[kMediaTagLimit + 1];
    ReadFirstToken(path.get(), tag, kMediaTagLimit);
    return CopyIfFits(tag, static_cast<DWORD>(wcslen(tag)) + 1, buffer, capacity);
}

DWORD GetReleaseRootVariable(wchar_t* buffer, DWORD capacity) {
    WideBufferPtr release = ReleaseNumberText();
    WideBufferPtr name(JoinStrings(2, kReleaseRootPrefix, release.get()));
    DWORD needed = GetEnvironmentVariableW(name.get(), nullptr, 0);
    if (needed == 0) return 0;  // not set: the buffer stays as it was
    if (!buffer || capacity < needed) return needed;
    DWORD length = GetEnvironmentVariableW(name.get(), buffer, capacity);
    // A value that grew since the size query is not copied; report the size it needs now.
    if (length >= capacity) return length;
    return 0;
}

void SaveLanguage(LanguageIndex index, bool save) {
    if (!save || index < 0 || index >= kLanguageCount) return;
    wchar_t code[8];
    GetLanguageCode(index, code, 8);
    WideBufferPtr line(JoinStrings(2, kSettingsKeyPrefix, code));

    WideBufferPtr appData = ReadAppData();
    if (!appData) return;
    WideBufferPtr version = VersionFolderText();
    WideBufferPtr vendorDir(JoinStrings(2, appData.get(), kVendorFolder));
    WideBufferPtr versionDir(JoinStrings(3, vendorDir.get(), L"\\", version.get()));
    if (!EnsureDirectory(appData.get()) || !EnsureDirectory(vendorDir.get()) ||
        !EnsureDirectory(versionDir.get()))
        return;

    WideBufferPtr path(JoinStrings(2, versionDir.get(), kSettingsFileName));
    UniqueStdioFile file(_wfopen(path.get(), L"w"));
    if (!file) return;
    fputws(line.get(), file.get());
}

LanguageIndex LanguageFromCode(const wchar_t* code, bool save) {
    if (code) {
        for (LanguageIndex index = 0; index < kLanguageCount; ++index)
            if (wcscmp(code, kLanguageCodes[index]) == 0) return index;
    }
    LanguageIndex index = DetectLanguageFromLocale();
    SaveLanguage(index, save);
    return index;
}

int FindLanguageCode(const wchar_t* root, WideBuffer* holder, DWORD capacity) {
    wchar_t* buffer = holder ? *holder : nullptr;
    if (!buffer) capacity = 0;
    if (capacity >= 2) buffer[0] = L'\0';

    // The first settings file that exists decides, even when it yields no value.
    WideBufferPtr userFile = PerUserSettingsPath();
    if (userFile && PathExists(userFile.get()))
        return static_cast<int>(CopySettingsValue(userFile.get(), buffer, capacity));
    WideBufferPtr installFile = InstallSettingsPath(root);
    if (installFile && PathExists(installFile.get()))
        return static_cast<int>(CopySettingsValue(installFile.get(), buffer, capacity));

    const wchar_t* code = kLanguageCodes[DetectLanguageFromLocale()];
    return static_cast<int>(
        CopyIfFits(code, static_cast<DWORD>(wcslen(code)) + 1, buffer, capacity));
}

LanguageIndex GetLanguage(bool save, const wchar_t* root) {
    DWORD needed = static_cast<DWORD>(FindLanguageCode(root, nullptr, 0));
    DWORD chars = needed > 0 ? needed : 1;
    WideBufferPtr code(AllocWideBuffer(chars));
    WideBuffer holder = code.get();
    FindLanguageCode(root, &holder, chars);
    return LanguageFromCode(code.get(), save);
}
