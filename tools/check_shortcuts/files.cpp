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

DriveDevice ClassifyDriveDevice(const std::wstring& answer, wchar_t* onto) {
    // A link: to a folder of a drive (subst X: C:\folder), or to anything else, a network share
    // (\??\UNC\server\share) among them.
    if (StartsWithNoCase(answer, L"\\??\\")) {
        *onto = DriveOf(answer.substr(4));
        return *onto ? DriveDevice::kSubstituted : DriveDevice::kNotLocal;
    }
    // A device: a network redirector's, or a local one.
    for (const wchar_t* network : {L"\\Device\\Mup", L"\\Device\\LanmanRedirector",
                                   L"\\Device\\WebDavRedirector", L"\\Device\\RdpDr"}) {
        if (StartsWithNoCase(answer, network)) return DriveDevice::kNotLocal;
    }
    return DriveDevice::kLocal;
}

bool IsLocalPath(const std::wstring& path) {
    if (path.empty()) return false;
    wchar_t letter = DriveOf(FullPath(path));
    // A drive substituted onto a folder of another drive is as local as that drive; a chain of
    // substitutions is followed a few steps, no further.
    for (int step = 0; letter && step < 4; ++step) {
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
        const wchar_t device[] = {letter, L':', L'\0'};
        wchar_t answer[1024] = L"";
        if (!QueryDosDeviceW(device, answer, 1024)) return true;
        wchar_t onto = 0;
        switch (ClassifyDriveDevice(answer, &onto)) {
            case DriveDevice::kLocal:
                return true;
            case DriveDevice::kNotLocal:
                return false;
            case DriveDevice::kSubstituted:
                letter = onto == letter ? 0 : onto;
                break;
        }
    }
    return false;  // UNC, device or otherwise not a drive path, or substituted too deep
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
