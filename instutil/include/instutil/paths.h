// Strings, paths, files and release information: the lowest layer of instutil.
//
// All text is UTF-16. Sizes and capacities count UTF-16 units, terminator included, unless
// bytes are named. Every buffer the library allocates comes from array new and goes back with
// array delete; an allocation that fails throws std::bad_alloc.
#pragma once

#include <windows.h>

// A heap-allocated, zero-terminated UTF-16 string. An operation that returns one hands it to
// the caller, who releases it with FreeAndClear.
typedef wchar_t* WideBuffer;

// A new WideBuffer of `chars` units whose first unit is the terminator. Caller frees it.
WideBuffer AllocWideBuffer(size_t chars);

// Joins `count` strings, each of which may be null (skipped), into a new WideBuffer.
// A count of 0 gives the empty string. Caller frees the result with FreeAndClear.
WideBuffer JoinStrings(int count, ...);

// Releases *buffer (when not null) and sets it to null.
void FreeAndClear(WideBuffer* buffer);

// Cuts `path` in place right after its last backslash, once one trailing backslash has been
// removed. True when a backslash was found (a drive root stays as it is and gives true).
bool RemoveLastPathComponent(wchar_t* path);

// The levels between the install root and a program of the suite: the root is the program's path
// less this many components.
constexpr int kInstallRootLevels = 5;

// Copies `source` into `destination` less its last five components, without a trailing
// backslash except at a drive root. `destination` must hold the whole of `source`.
void StripPathLevels(const wchar_t* source, wchar_t* destination);

// The capacity in which the running executable's path is fetched: a path of this many characters or
// more is never used (see GetModulePath).
constexpr DWORD kModulePathChars = 520;

// The running executable's full path. Size query: with a capacity of at least its length + 1
// the path is copied and the result is 0; otherwise the result is length + 1 and `buffer`
// (which may then be null) is left alone. A path of 520 characters or more is never used cut
// short: it is unknown, as when it cannot be fetched, and reads as the empty string.
DWORD GetModulePath(wchar_t* buffer, DWORD capacity);

// The install root: the executable's path less its last five components. Size query, but the
// capacity asked for is that of the whole module path (its length + 1). Empty when the module
// path is unknown (see GetModulePath).
DWORD GetInstallRoot(wchar_t* buffer, DWORD capacity);

// True when `path` names an existing file or directory.
bool PathExists(const wchar_t* path);

// Nonzero when `path` exists (directory or file) or was created now as a directory (one level).
BOOL EnsureDirectory(const wchar_t* path);

// Creates `path` and every missing parent, from the top down. Always 0.
int CreateDirectoryTree(const wchar_t* path);

// Creates the directory `path` (not its parents) with an access list that gives Everyone broad
// access, inherited by sub-directories only. Always 0.
int CreateOpenDirectory(const wchar_t* path);

// Reads the whole of an existing file. On success *content receives a new byte buffer of the
// file's length as found on opening it (caller frees it with delete[]) and *length, when given,
// the count of bytes read into it: that length, or fewer when the file shrank while it was read
// or a read failed. Bytes past the count are undefined. 1 when every read succeeded, also for
// an empty file; 0 when the file cannot be opened (nothing is created, *content is left
// untouched and *length is not set) or a read failed (*content and *length are set).
int ReadWholeFile(const wchar_t* path, BYTE** content, DWORD* length = nullptr);

// Copies `source` into `destination`, turning a-z into A-Z and leaving every other character.
// `destination` must hold the length of `source` plus the terminator.
void ToUpperAscii(const wchar_t* source, wchar_t* destination);

// Keys of the release-information file.
extern const char kStartMenuFolderNameKey[];  // "startMenuFolderName"
extern const char kRevisionKey[];             // "startMenuShortcutAppendRevision"

// Reads a value of a release-information file: the first occurrence of `key` (bytes,
// case-sensitive), then the bytes between the next two double quotes, converted from UTF-8.
// Only the bytes that ReadWholeFile actually read are searched; an empty or null `path` names no
// file.
//
// Returns the capacity the value needs: its byte count + 1 when found, 1 when not found.
// `holder` is null for the size query. Otherwise it is the address of the caller's buffer of
// `capacity` characters (allocated from the size query's result); the buffer receives the value
// and its terminator, or the empty string when the value is not found or does not fit within
// `capacity` (as when the file grew since the size query). The buffer stays the caller's.
int ReadReleaseValue(const wchar_t* path, const char* key, WideBuffer* holder, DWORD capacity);

// ReadReleaseValue's search on bytes already read: the first `size` bytes of `content` (null
// reads as not found). Same result and fill; `content` stays the caller's.
int FindReleaseValue(const BYTE* content, DWORD size, const char* key, WideBuffer* holder,
                     DWORD capacity);

// The global release-information file of an install root,
// <root>\commonfiles\globalsettings\relinfo.xml. `root` stays the caller's; an empty or null
// `root` (an unknown install root) gives the empty string, which names no file. Caller frees the
// result with FreeAndClear.
WideBuffer ComposeGlobalReleaseFilePath(const wchar_t* root);

// ReadReleaseValue on ComposeGlobalReleaseFilePath of the install root; no file when the install
// root is unknown.
int GetStartMenuFolderName(WideBuffer* holder, DWORD capacity);
int GetGlobalRevisionTag(WideBuffer* holder, DWORD capacity);
// ReadReleaseValue on relinfo.xml beside the running executable; no file when the executable's
// path is unknown.
int GetLocalRevisionTag(WideBuffer* holder, DWORD capacity);

// Runs a release-value getter's size query and fill: a new WideBuffer holding the value, or the
// empty string when it is missing. Caller frees it with FreeAndClear.
WideBuffer FetchReleaseValue(int (*getter)(WideBuffer* holder, DWORD capacity));
