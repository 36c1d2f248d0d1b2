#include "files.h"

#include <windows.h>

#include <cwchar>

#include "instutil/owners.h"
#include "instutil/paths.h"

namespace {

// The drive letter a full path starts with, after any \\?\ prefix; 0 when it has none.
wchar_t DriveOf(const std::wstring& full) {
    std::wstring path = full;
    if (path.compare(0, 4, L"\\\\?\\") == 0) path = path.substr(4);
    if (path.size() < 3 || path[1] != L':' || (path[2] != L'\\' && path[2] != L'/')) return 0;
    wchar_t letter = path[0];
    if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - L'a' + L'A');
    return (letter >= L'A' && letter <= L'Z') ? letter : 0;
}

// A handle on the local file or folder `path` that reads nothing: attributes only, reparse
// points not followed.
UniqueHandle OpenForIdentity(const std::wstring& path) {
    return OwnHandle(CreateFileW(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

DWORD LocalAttributes(const std::wstring& path) {
    if (!IsLocalPath(path)) return INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesW(path.c_str());
}

}  // namespace

std::wstring FullPath(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    size = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    full.resize(size);
    return full;
}

bool IsLocalPath(const std::wstring& path) {
    if (path.empty()) return false;
    wchar_t letter = DriveOf(FullPath(path));
    if (!letter) return false;  // UNC, device or otherwise not a drive path
    const wchar_t root[] = {letter, L':', L'\\', L'\0'};
    switch (GetDriveTypeW(root)) {
        case DRIVE_FIXED:
        case DRIVE_REMOVABLE:
        case DRIVE_CDROM:
        case DRIVE_RAMDISK:
            break;
        default:  // remote, unknown, or no such drive
            return false;
    }
    // A drive substituted for a network path (subst X: \\server\share).
    const wchar_t device[] = {letter, L':', L'\0'};
    wchar_t target[1024] = L"";
    if (QueryDosDeviceW(device, target, 1024)) {
        std::wstring mapped = target;
        if (StartsWithNoCase(mapped, L"\\??\\UNC\\") ||
            StartsWithNoCase(mapped, L"\\Device\\Mup") ||
            StartsWithNoCase(mapped, L"\\Device\\LanmanRedirector")) {
            return false;
        }
    }
    return true;
}

bool IsLocalFile(const std::wstring& path) {
    DWORD attributes = LocalAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsLocalFolder(const std::wstring& path) {
    DWORD attributes = LocalAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SameLocalFile(const std::wstring& a, const std::wstring& b) {
    if (!IsLocalPath(a) || !IsLocalPath(b)) return false;
    UniqueHandle first = OpenForIdentity(a);
    UniqueHandle second = OpenForIdentity(b);
    BY_HANDLE_FILE_INFORMATION one;
    BY_HANDLE_FILE_INFORMATION two;
    if (!first || !second || !GetFileInformationByHandle(first.get(), &one) ||
        !GetFileInformationByHandle(second.get(), &two)) {
        return false;
    }
    return one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
           one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
}

bool LocalFileSize(const std::wstring& path, uint64_t* size) {
    if (!IsLocalPath(path)) return false;
    UniqueHandle file =
        OwnHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER bytes;
    if (!file || !GetFileSizeEx(file.get(), &bytes)) return false;
    *size = static_cast<uint64_t>(bytes.QuadPart);
    return true;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() &&
           _wcsnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}
