// Language selection, the language settings files and the release constants.
//
// The language comes from the per-user settings file
// (%APPDATA%\Kelda\v182\languagesettings.txt), else from the install-level settings file
// (<install root>\commonfiles\Language\languagesettings.txt), else from the user's default
// locale. A settings file holds one token such as lang=de; only the text after the token's first
// "=" counts. Codes are compared exactly and case-sensitively.
//
// Size queries follow the library's protocol: with no buffer and capacity 0 the result is the
// capacity needed (terminator included); with a large enough buffer it is filled and the result
// is 0. GetLanguageCode and ReadSettingsValue return the size also when they fill.
//
// Every pointer argument stays the caller's: no operation here keeps, replaces or frees a
// buffer it is given, and every buffer an operation allocates is freed before it returns.
#pragma once

#include <windows.h>

#include "instutil/paths.h"

// 0 = "en-us" (English), 1 = "de" (German), 2 = "fr" (French), 3 = "ja" (Japanese).
typedef int LanguageIndex;

constexpr LanguageIndex kLanguageEnglish = 0;
constexpr LanguageIndex kLanguageGerman = 1;
constexpr LanguageIndex kLanguageFrench = 2;
constexpr LanguageIndex kLanguageJapanese = 3;

// The locale identifiers that choose each language; every other locale gives English.
extern const LCID kJapaneseLocales[1];
extern const LCID kGermanLocales[5];
extern const LCID kFrenchLocales[16];
extern const LCID kEnglishLocales[18];

// The language of the user's default locale: English also for a locale that is not installed
// or is in none of the tables.
LanguageIndex DetectLanguageFromLocale();

// Copies the code of `index` into `buffer` (the caller's, `capacity` characters; may be null
// with capacity 0). A capacity of 2 or more first empties the buffer; the code is copied only
// when it fits. Returns the code's size, terminator included (6 for "en-us", 3 for the others),
// whether or not it was copied, and 0 for an index outside 0..3.
int GetLanguageCode(LanguageIndex index, wchar_t* buffer, DWORD capacity);

// Reads the value of a settings file at `path` (the caller's): the text after the first "=" of
// the file's first whitespace-delimited token, of which at most 49 characters are read.
// `holder` is null for a size query (the capacity is then ignored), or the address of the
// caller's buffer pointer, whose buffer of `capacity` characters is emptied and receives the
// value when it fits; the buffer is never replaced or freed. Returns the value's size,
// terminator included, whether or not it was copied; 0 when the file yields no value (cannot be
// opened, is empty, or its token has no "=").
int ReadSettingsValue(const wchar_t* path, WideBuffer* holder, DWORD capacity);

// The release number "182" (size 4). Size-query protocol; `buffer` is the caller's.
DWORD GetReleaseNumber(wchar_t* buffer, DWORD capacity);

// The per-user version folder name "v182" (size 5). Size-query protocol; `buffer` is the
// caller's.
DWORD GetVersionFolderName(wchar_t* buffer, DWORD capacity);

// The installation-media tag: the first whitespace-delimited token of <directory>\182-1.dvd, of
// which at most 9 characters are read; the empty tag when the file is missing. Size-query
// protocol; `directory` and `buffer` are the caller's.
DWORD ReadMediaTag(const wchar_t* directory, wchar_t* buffer, DWORD capacity);

// The value of the environment variable KDX_ROOT182. Size-query protocol; `buffer` is the
// caller's. When the variable is not set the result is 0 and the buffer is left as it was.
DWORD GetReleaseRootVariable(wchar_t* buffer, DWORD capacity);

// With `save` set, writes lang=<code of index> (no line end) to the per-user settings file,
// creating the folders Kelda and Kelda\v182 under %APPDATA% as needed. Does nothing when `save`
// is false, `index` is outside 0..3, or APPDATA is unset or empty; a folder or file that cannot
// be created ends the save silently.
void SaveLanguage(LanguageIndex index, bool save);

// The index of a known code ("en-us", "de", "fr", "ja"; `code` is the caller's). Any other text,
// the empty string and other letter cases included, gives the locale's language, which is then
// saved to the per-user file when `save` is set.
LanguageIndex LanguageFromCode(const wchar_t* code, bool save);

// The chosen code, unchecked: the value of the per-user file when that file exists (even when
// it yields no value), else of the install-level file under `root` (the caller's) when that
// exists, else the locale's code. With APPDATA unset or empty the per-user file counts as
// absent. `holder` is null for a size query, or the address of the caller's buffer pointer,
// whose buffer of `capacity` characters is emptied (capacity 2 or more) and filled when the code
// fits; the buffer is never replaced or freed. Size-query protocol: 0 when filled, else the
// size needed (0 also for a file that yields no value).
int FindLanguageCode(const wchar_t* root, WideBuffer* holder, DWORD capacity);

// The language for the installation under `root` (the caller's): the code FindLanguageCode
// chooses, judged by LanguageFromCode with `save`.
LanguageIndex GetLanguage(bool save, const wchar_t* root);
