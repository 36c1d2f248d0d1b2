#include "instutil/paths.h"

#include "instutil/owners.h"

#include <aclapi.h>
#include <emmintrin.h>
#include <shlwapi.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdarg>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <cwchar>

const char kStartMenuFolderNameKey[] = "startMenuFolderName";
const char kRevisionKey[] = "startMenuShortcutAppendRevision";

namespace {

constexpr wchar_t kGlobalReleaseFile[] = L"\\commonfiles\\globalsettings\\relinfo.xml";
constexpr wchar_t kReleaseFileName[] = L"relinfo.xml";

// The running executable's path in a new 520-character buffer, and its length. A path that does
// not fit is never used cut short: GetModuleFileNameW then returns the capacity (and on XP and
// Wine leaves the buffer unterminated), and the path is unknown, as when the call fails: the
// empty string, length 0.
WideBufferPtr FetchModulePath(DWORD* length) {
    WideBufferPtr path(AllocWideBuffer(kModulePathChars));
    DWORD fetched = GetModuleFileNameW(nullptr, path.get(), kModulePathChars);
    if (fetched >= kModulePathChars) fetched = 0;
    path[fetched] = L'\0';
    *length = fetched;
    return path;
}

// The global release-information file's path, from a fresh install root; empty when the root is
// unknown (never a path below the drive's root).
WideBufferPtr GlobalReleaseFilePath() {
    DWORD needed = GetInstallRoot(nullptr, 0);
    WideBufferPtr root(AllocWideBuffer(needed));
    GetInstallRoot(root.get(), needed);
    return WideBufferPtr(ComposeGlobalReleaseFilePath(root.get()));
}

// The release-information file beside the running executable; empty when the executable's path
// is unknown (never a file of the current directory).
WideBufferPtr LocalReleaseFilePath() {
    DWORD length = 0;
    WideBufferPtr directory = FetchModulePath(&length);
    if (!RemoveLastPathComponent(directory.get())) return WideBufferPtr(AllocWideBuffer(1));
    return WideBufferPtr(JoinStrings(2, directory.get(), kReleaseFileName));
}

// Offset of the first occurrence of `needle` in the first `size` bytes of `text`, or -1. A
// skip search: it looks at a fraction of the bytes, so a key at the end of a large file costs
// little beyond reading it.
long FindBytes(const BYTE* text, size_t size, const char* needle, size_t needleSize) {
    auto needleBytes = reinterpret_cast<const BYTE*>(needle);
    std::boyer_moore_horspool_searcher<const BYTE*> searcher(needleBytes, needleBytes + needleSize);
    const BYTE* hit = std::search(text, text + size, searcher);
    return hit == text + size && needleSize > 0 ? -1 : static_cast<long>(hit - text);
}

// Offset of the first zero byte in the first `size` bytes of `text`, or `size`.
size_t FindZeroBytePlain(const BYTE* text, size_t size) {
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {  // four bytes at a time
        uint32_t word;
        memcpy(&word, text + i, 4);
        if ((word - 0x01010101u) & ~word & 0x80808080u) break;
    }
    for (; i < size; ++i) {
        if (text[i] == 0) return i;
    }
    return size;
}

// The same, sixteen bytes at a time, for processors with SSE2.
__attribute__((target("sse2"))) size_t FindZeroByteSse2(const BYTE* text, size_t size) {
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(block, zero)) != 0) break;
    }
    return i + FindZeroBytePlain(text + i, size - i);
}

size_t FindZeroByte(const BYTE* text, size_t size) {
    return IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)
               ? FindZeroByteSse2(text, size)
               : FindZeroBytePlain(text, size);
}

}  // namespace

WideBuffer AllocWideBuffer(size_t chars) {
    if (chars == 0) chars = 1;
    wchar_t* buffer = new wchar_t[chars];
    buffer[0] = L'\0';
    return buffer;
}

WideBuffer JoinStrings(int count, ...) {
    va_list args;
    size_t total = 0;
    va_start(args, count);
    for (int i = 0; i < count; ++i) {
        const wchar_t* part = va_arg(args, const wchar_t*);
        if (part) total += wcslen(part);
    }
    va_end(args);

    WideBuffer joined = AllocWideBuffer(total + 1);
    size_t at = 0;
    va_start(args, count);
    for (int i = 0; i < count; ++i) {
        const wchar_t* part = va_arg(args, const wchar_t*);
        if (!part) continue;
        size_t length = wcslen(part);
        wmemcpy(joined + at, part, length);
        at += length;
    }
    va_end(args);
    joined[total] = L'\0';
    return joined;
}

void FreeAndClear(WideBuffer* buffer) {
    delete[] * buffer;
    *buffer = nullptr;
}

bool RemoveLastPathComponent(wchar_t* path) {
    PathRemoveBackslashW(path);
    wchar_t* last = wcsrchr(path, L'\\');
    if (!last) return false;
    last[1] = L'\0';
    return true;
}

void StripPathLevels(const wchar_t* source, wchar_t* destination) {
    wcscpy(destination, source);
    for (int level = 0; level < kInstallRootLevels; ++level) {
        RemoveLastPathComponent(destination);
        PathRemoveBackslashW(destination);
    }
}

DWORD GetModulePath(wchar_t* buffer, DWORD capacity) {
    DWORD length = 0;
    WideBufferPtr path = FetchModulePath(&length);
    DWORD needed = length + 1;
    if (capacity < needed) return needed;
    wmemcpy(buffer, path.get(), needed);
    return 0;
}

DWORD GetInstallRoot(wchar_t* buffer, DWORD capacity) {
    DWORD length = 0;
    WideBufferPtr path = FetchModulePath(&length);
    // The path is copied into the caller's buffer before it is cut.
    if (capacity < length + 1) return length + 1;
    buffer[0] = L'\0';
    StripPathLevels(path.get(), buffer);
    return 0;
}

bool PathExists(const wchar_t* path) {
    struct _stat info;
    return _wstat(path, &info) == 0;
}

BOOL EnsureDirectory(const wchar_t* path) {
    if (PathExists(path)) return TRUE;
    return CreateDirectoryW(path, nullptr);
}

int CreateDirectoryTree(const wchar_t* path) {
    WideBufferPtr parent(JoinStrings(1, path));
    RemoveLastPathComponent(parent.get());
    if (wcscmp(parent.get(), path) != 0) CreateDirectoryTree(parent.get());
    // An existing directory, a drive root or a failure all pass silently.
    CreateDirectoryW(path, nullptr);
    return 0;
}

int CreateOpenDirectory(const wchar_t* path) {
    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    PSID rawEveryone = nullptr;
    if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                  &rawEveryone)) {
        return 0;
    }
    UniqueSid everyone(rawEveryone);

    EXPLICIT_ACCESSW access = {};
    access.grfAccessPermissions = 0xE0071FFF;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = CONTAINER_INHERIT_ACE;
    access.Trustee.pMultipleTrustee = nullptr;
    access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone.get());

    PACL rawAcl = nullptr;
    if (SetEntriesInAclW(1, &access, nullptr, &rawAcl) != ERROR_SUCCESS) return 0;
    UniqueLocal acl = OwnLocal(rawAcl);

    UniqueLocal descriptor = OwnLocal(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor ||
        !InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor.get(), TRUE, rawAcl, FALSE)) {
        return 0;
    }

    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
    CreateDirectoryW(path, &attributes);
    return 0;
}

int ReadWholeFile(const wchar_t* path, BYTE** content, DWORD* length) {
    // Existing files only: a read must never leave an empty file behind.
    UniqueHandle file = OwnHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;

    DWORD size = SetFilePointer(file.get(), 0, nullptr, FILE_END);
    if (size == INVALID_SET_FILE_POINTER) size = 0;
    BYTE* bytes = new BYTE[size];
    *content = bytes;
    SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);

    // Only the bytes that reads delivered count: a file that shrank since its size was taken
    // ends the reading early, and a failed read ends it too.
    int result = 1;
    DWORD done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes + done, size - done, &got, nullptr)) {
            result = 0;
            break;
        }
        if (got == 0) break;
        done += got;
    }
    if (length) *length = done;
    return result;
}

void ToUpperAscii(const wchar_t* source, wchar_t* destination) {
    size_t i = 0;
    for (; source[i]; ++i) {
        wchar_t c = source[i];
        destination[i] = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(toupper(c)) : c;
    }
    destination[i] = L'\0';
}

int ReadReleaseValue(const wchar_t* path, const char* key, WideBuffer* holder, DWORD capacity) {
    if (holder && *holder && capacity > 0) (*holder)[0] = L'\0';

    if (!path || !path[0]) return 1;  // an unknown file
    BYTE* rawContent = nullptr;
    DWORD size = 0;  // the bytes actually read
    // Whatever the result, only the bytes read are searched. After a failed read they are the
    // file's start, and a value that lies wholly in them is the one a full read would give, since
    // the first occurrence of the key decides; anything else reads as not found.
    ReadWholeFile(path, &rawContent, &size);
    BytesPtr content(rawContent);
    if (!content) return 1;
    return FindReleaseValue(content.get(), size, key, holder, capacity);
}

int FindReleaseValue(const BYTE* text, DWORD size, const char* key, WideBuffer* holder,
                     DWORD capacity) {
    wchar_t* out = (holder && *holder && capacity > 0) ? *holder : nullptr;
    if (out) out[0] = L'\0';
    if (!text) return 1;

    // The key, then the first double quote after it and the next one.
    long keyAt = FindBytes(text, size, key, strlen(key));
    if (keyAt < 0) return 1;
    const BYTE* open = static_cast<const BYTE*>(memchr(text + keyAt, '"', size - keyAt));
    if (!open) return 1;
    size_t valueAt = open - text + 1;
    const BYTE* close = static_cast<const BYTE*>(memchr(text + valueAt, '"', size - valueAt));
    if (!close) return 1;
    // The text ends at its first zero byte (so a UTF-16 file never yields a value): all of it
    // must lie before that.
    if (FindZeroByte(text, close - text) < static_cast<size_t>(close - text)) return 1;

    int bytes = static_cast<int>(close - (text + valueAt));
    // The fill writes only within the capacity the caller's size query returned; a value that
    // has grown since then leaves the empty string.
    if (out && static_cast<DWORD>(bytes) + 1 <= capacity && bytes > 0) {
        int chars = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(text + valueAt),
                                        bytes, out, bytes);
        out[chars] = L'\0';
    }
    return bytes + 1;
}

WideBuffer ComposeGlobalReleaseFilePath(const wchar_t* root) {
    if (!root || root[0] == L'\0') return AllocWideBuffer(1);
    return JoinStrings(2, root, kGlobalReleaseFile);
}

int GetStartMenuFolderName(WideBuffer* holder, DWORD capacity) {
    WideBufferPtr path = GlobalReleaseFilePath();
    return ReadReleaseValue(path.get(), kStartMenuFolderNameKey, holder, capacity);
}

int GetGlobalRevisionTag(WideBuffer* holder, DWORD capacity) {
    WideBufferPtr path = GlobalReleaseFilePath();
    return ReadReleaseValue(path.get(), kRevisionKey, holder, capacity);
}

int GetLocalRevisionTag(WideBuffer* holder, DWORD capacity) {
    WideBufferPtr path = LocalReleaseFilePath();
    return ReadReleaseValue(path.get(), kRevisionKey, holder, capacity);
}

WideBuffer FetchReleaseValue(int (*getter)(WideBuffer* holder, DWORD capacity)) {
    DWORD needed = static_cast<DWORD>(getter(nullptr, 0));
    WideBuffer value = AllocWideBuffer(needed);
    getter(&value, needed);
    return value;
}
