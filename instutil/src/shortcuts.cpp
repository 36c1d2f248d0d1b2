#include "instutil/shortcuts.h"

#include "instutil/owners.h"
#include "instutil/paths.h"

#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <direct.h>

#include <cwchar>
#include <memory>

const wchar_t kBuiltInRevision[] = L"18.1";

namespace {

constexpr wchar_t kShortcutExtension[] = L".lnk";
// SHGetSpecialFolderPathW writes at most MAX_PATH units plus the terminator.
constexpr DWORD kFolderScratchChars = MAX_PATH + 1;
// RemoveStartMenuFolder composes its path in place in a buffer of this many units.
constexpr size_t kStartMenuFolderChars = 520;

int ProgramsFolderId() {
    return IsAdministrator() ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
}

// The Programs folder by the size query, in a new buffer; null when it cannot be found.
WideBufferPtr FetchProgramsFolder() {
    int needed = GetProgramsFolder(nullptr, 0);
    if (needed <= 1) return nullptr;
    WideBufferPtr folder(AllocWideBuffer(needed));
    if (GetProgramsFolder(folder.get(), needed) != 0) return nullptr;
    return folder;
}

bool IsForbiddenPathChar(wchar_t c) {
    return c < 0x20 || wcschr(L"/:<>\"|?*", c) != nullptr;
}

// True for a component that Windows would resolve to "." or "..": dots and blanks only.
bool IsDotComponent(const wchar_t* begin, const wchar_t* end) {
    if (begin == end) return false;
    for (const wchar_t* c = begin; c != end; ++c) {
        if (*c != L'.' && *c != L' ') return false;
    }
    return true;
}

// Reads a release-file revision with the getter's size query and fill.
WideBufferPtr FetchRevision(int (*getter)(WideBuffer* holder, DWORD capacity)) {
    return WideBufferPtr(FetchReleaseValue(getter));
}

// Asks the shell for the first non-folder item of the folder `path`. *listing receives the
// result of IEnumIDList::Next (S_FALSE when nothing is listed). The result is the failing
// HRESULT when the shell cannot parse, bind or enumerate the path as a folder.
HRESULT ListFirstFile(const wchar_t* path, HRESULT* listing) {
    IShellFolder* rawShellDesktop = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellDesktop, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IShellFolder, reinterpret_cast<void**>(&rawShellDesktop));
    if (FAILED(hr)) return hr;
    UniqueCom<IShellFolder> shellDesktop = OwnCom(rawShellDesktop);

    IShellFolder* rawDesktop = nullptr;
    hr = SHGetDesktopFolder(&rawDesktop);
    if (FAILED(hr)) return hr;
    UniqueCom<IShellFolder> desktop = OwnCom(rawDesktop);

    IMalloc* rawMalloc = nullptr;
    hr = SHGetMalloc(&rawMalloc);
    if (FAILED(hr)) return hr;
    UniqueCom<IMalloc> malloc = OwnCom(rawMalloc);
    // Item identifier lists go back through the shell allocator.
    auto freeIdList = [&malloc](LPITEMIDLIST list) { malloc->Free(list); };
    using UniqueIdList = std::unique_ptr<ITEMIDLIST, decltype(freeIdList)>;

    // The shell parses a path with doubled separators (as composed for an empty folder name)
    // only once they are resolved, as the file system resolves them.
    DWORD fullSize = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (fullSize == 0) return HRESULT_FROM_WIN32(GetLastError());
    WideBufferPtr fullPath(AllocWideBuffer(fullSize));
    GetFullPathNameW(path, fullSize, fullPath.get(), nullptr);

    LPITEMIDLIST rawList = nullptr;
    UniqueBstr parsePath(SysAllocString(fullPath.get()));
    hr = desktop->ParseDisplayName(nullptr, nullptr, parsePath.get(), nullptr, &rawList, nullptr);
    parsePath.reset();
    UniqueIdList list(rawList, freeIdList);
    if (FAILED(hr)) return hr;
    if (!list) return E_FAIL;

    IShellFolder* rawFolder = nullptr;
    hr = desktop->BindToObject(list.get(), nullptr, IID_IShellFolder,
                               reinterpret_cast<void**>(&rawFolder));
    if (FAILED(hr)) return hr;
    if (!rawFolder) return E_FAIL;
    UniqueCom<IShellFolder> folder = OwnCom(rawFolder);

    IEnumIDList* rawItems = nullptr;
    hr = folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, &rawItems);
    if (FAILED(hr)) return hr;
    if (!rawItems) {  // a folder with nothing to list may hand back no enumerator
        *listing = S_FALSE;
        return S_OK;
    }
    UniqueCom<IEnumIDList> items = OwnCom(rawItems);

    LPITEMIDLIST rawItem = nullptr;
    ULONG fetched = 0;
    *listing = items->Next(1, &rawItem, &fetched);
    UniqueIdList item(rawItem, freeIdList);
    return S_OK;
}

}  // namespace

NameCheck CheckSubfolder(const wchar_t* subfolder) {
    NameCheck check;
    if (!subfolder) {
        check.refusal = NameRefusal::kMissing;
        return check;
    }
    const wchar_t* component = subfolder;
    for (const wchar_t* c = subfolder;; ++c) {
        if (*c == L'\\' || *c == L'\0') {
            if (IsDotComponent(component, c)) {
                check.refusal = NameRefusal::kDotComponent;
                check.offset = static_cast<size_t>(component - subfolder);
                check.length = static_cast<size_t>(c - component);
                return check;
            }
            if (*c == L'\0') return check;
            component = c + 1;
        } else if (IsForbiddenPathChar(*c)) {
            check.refusal = NameRefusal::kForbiddenChar;
            check.character = *c;
            check.offset = static_cast<size_t>(c - subfolder);
            return check;
        }
    }
}

NameCheck CheckFolderName(const wchar_t* folderName) {
    if (folderName && folderName[0] == L'\\') {
        NameCheck check;
        check.refusal = NameRefusal::kRooted;
        check.character = L'\\';
        return check;
    }
    return CheckSubfolder(folderName);
}

NameCheck CheckNamePart(const wchar_t* name) {
    NameCheck check;
    if (!name) {
        check.refusal = NameRefusal::kMissing;
        return check;
    }
    for (const wchar_t* c = name; *c; ++c) {
        if (*c == L'\\' || IsForbiddenPathChar(*c)) {
            check.refusal = NameRefusal::kForbiddenChar;
            check.character = *c;
            check.offset = static_cast<size_t>(c - name);
            return check;
        }
    }
    return check;
}

bool IsSafeSubfolder(const wchar_t* subfolder) {
    return CheckSubfolder(subfolder).refusal == NameRefusal::kNone;
}

bool IsSafeFolderName(const wchar_t* folderName) {
    return CheckFolderName(folderName).refusal == NameRefusal::kNone;
}

bool IsSafeNamePart(const wchar_t* name) {
    return CheckNamePart(name).refusal == NameRefusal::kNone;
}

BOOL IsAdministrator() {
    BOOL granted = FALSE;
    HANDLE rawToken = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE, &rawToken)) {
        if (GetLastError() != ERROR_NO_TOKEN ||
            !OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &rawToken)) {
            return FALSE;
        }
    }
    UniqueHandle token = OwnHandle(rawToken);

    HANDLE rawImpersonation = nullptr;
    if (!DuplicateToken(token.get(), SecurityImpersonation, &rawImpersonation)) return FALSE;
    UniqueHandle impersonation = OwnHandle(rawImpersonation);

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID rawAdmins = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &rawAdmins)) {
        return FALSE;
    }
    UniqueSid admins(rawAdmins);

    // A descriptor that lets only the Administrators group read (1) and write (2).
    UniqueLocal descriptor = OwnLocal(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor ||
        !InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION)) {
        return FALSE;
    }
    DWORD aclSize = GetLengthSid(rawAdmins) + 16;
    UniqueLocal dacl = OwnLocal(LocalAlloc(LPTR, aclSize));
    PACL rawDacl = static_cast<PACL>(dacl.get());
    if (!dacl || !InitializeAcl(rawDacl, aclSize, ACL_REVISION2) ||
        !AddAccessAllowedAce(rawDacl, ACL_REVISION2, 3, rawAdmins) ||
        !SetSecurityDescriptorDacl(descriptor.get(), TRUE, rawDacl, FALSE)) {
        return FALSE;
    }
    SetSecurityDescriptorGroup(descriptor.get(), rawAdmins, FALSE);
    SetSecurityDescriptorOwner(descriptor.get(), rawAdmins, FALSE);
    if (!IsValidSecurityDescriptor(descriptor.get())) return FALSE;

    GENERIC_MAPPING mapping = {1, 2, 0, 3};
    PRIVILEGE_SET privileges = {};
    DWORD privilegesSize = sizeof(privileges);
    DWORD grantedAccess = 0;
    if (!AccessCheck(descriptor.get(), impersonation.get(), 1, &mapping, &privileges,
                     &privilegesSize, &grantedAccess, &granted)) {
        return FALSE;
    }
    return granted;
}

int GetProgramsFolder(wchar_t* buffer, DWORD capacity) {
    return GetProgramsFolderFor(IsAdministrator() != FALSE, buffer, capacity);
}

int GetProgramsFolderFor(bool allUsers, wchar_t* buffer, DWORD capacity) {
    if (static_cast<int>(capacity) > 0) buffer[0] = L'\0';
    WideBufferPtr scratch(AllocWideBuffer(kFolderScratchChars));
    const int folderId = allUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
    if (!SHGetSpecialFolderPathW(nullptr, scratch.get(), folderId, FALSE) || scratch[0] == L'\0') {
        // The size query asks for room for the empty string, which a caller can allocate; the
        // fill then fails.
        return capacity == 0 ? 1 : E_FAIL;
    }
    DWORD needed = static_cast<DWORD>(wcslen(scratch.get())) + 1;
    if (capacity < needed) return static_cast<int>(needed);
    wmemcpy(buffer, scratch.get(), needed);
    return 0;
}

WideBuffer ComposeShortcutPath(const wchar_t* programsFolder, const wchar_t* subfolder,
                               const wchar_t* title, const wchar_t* revision) {
    // The one naming rule both sides follow.
    if (!programsFolder || !programsFolder[0] || !IsSafeSubfolder(subfolder) ||
        !IsSafeNamePart(title) || !IsSafeNamePart(revision)) {
        return nullptr;
    }
    const wchar_t* separator = revision[0] ? L" " : L"";
    return JoinStrings(7, programsFolder, subfolder, L"\\", title, separator, revision,
                       kShortcutExtension);
}

namespace {

// ComposeShortcutPath in the Programs folder of the caller's rights. Null when a part would lead
// outside the Programs folder or the Programs folder cannot be found.
WideBufferPtr ComposeOwnShortcutPath(const wchar_t* subfolder, const wchar_t* title,
                                     const wchar_t* revision) {
    if (!IsSafeSubfolder(subfolder) || !IsSafeNamePart(title) || !IsSafeNamePart(revision)) {
        return nullptr;
    }
    WideBufferPtr programs = FetchProgramsFolder();
    if (!programs) return nullptr;
    return WideBufferPtr(ComposeShortcutPath(programs.get(), subfolder, title, revision));
}

}  // namespace

HRESULT CreateShortcutFile(const wchar_t* shortcutPath, const wchar_t* target,
                           const wchar_t* arguments, const wchar_t* workingDirectory,
                           const wchar_t* description, const wchar_t* iconFile, int iconIndex,
                           int showCommand) {
    CoInitialize(nullptr);  // stays initialised for the rest of the process

    // The shortcut's folder, with every missing parent, comes before the shell-link object.
    WideBufferPtr folder(JoinStrings(1, shortcutPath));
    RemoveLastPathComponent(folder.get());
    PathRemoveBackslashW(folder.get());
    CreateDirectoryTree(folder.get());

    IShellLinkW* rawLink = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&rawLink));
    if (FAILED(hr)) return hr;
    UniqueCom<IShellLinkW> link = OwnCom(rawLink);

    link->SetPath(target);
    link->SetArguments(arguments);
    link->SetWorkingDirectory(workingDirectory);
    link->SetDescription(description);
    link->SetIconLocation(iconFile, iconIndex);
    link->SetShowCmd(showCommand);

    IPersistFile* rawFile = nullptr;
    hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&rawFile));
    if (FAILED(hr)) return hr;
    UniqueCom<IPersistFile> file = OwnCom(rawFile);

    UniqueBstr path(SysAllocString(shortcutPath));
    file->Save(path.get(), TRUE);
    return 0;
}

int AddProgramShortcut(const wchar_t* targetDirectory, const wchar_t* targetFile,
                       const wchar_t* arguments, const wchar_t* iconFile,
                       const wchar_t* workingDirectory, const wchar_t* subfolder,
                       const wchar_t* title, const wchar_t* description, int showCommand,
                       const wchar_t* revision) {
    WideBufferPtr shortcutPath = ComposeOwnShortcutPath(subfolder, title, revision);
    if (!shortcutPath) return 0;
    WideBufferPtr target(JoinStrings(4, L"\"", targetDirectory, targetFile, L"\""));
    CreateShortcutFile(shortcutPath.get(), target.get(), arguments, workingDirectory, description,
                       iconFile, 0, showCommand);
    return 0;
}

int AddProgramShortcutFixedRevision(const wchar_t* targetDirectory, const wchar_t* targetFile,
                                    const wchar_t* arguments, const wchar_t* iconFile,
                                    const wchar_t* workingDirectory, const wchar_t* subfolder,
                                    const wchar_t* title, const wchar_t* description,
                                    int showCommand) {
    return AddProgramShortcut(targetDirectory, targetFile, arguments, iconFile, workingDirectory,
                              subfolder, title, description, showCommand, kBuiltInRevision);
}

int AddProgramShortcutGlobalRevision(const wchar_t* targetDirectory, const wchar_t* targetFile,
                                     const wchar_t* arguments, const wchar_t* iconFile,
                                     const wchar_t* workingDirectory, const wchar_t* subfolder,
                                     const wchar_t* title, const wchar_t* description,
                                     int showCommand) {
    WideBufferPtr revision = FetchRevision(GetGlobalRevisionTag);
    return AddProgramShortcut(targetDirectory, targetFile, arguments, iconFile, workingDirectory,
                              subfolder, title, description, showCommand, revision.get());
}

int AddProgramShortcutLocalRevision(const wchar_t* targetDirectory, const wchar_t* targetFile,
                                    const wchar_t* arguments, const wchar_t* iconFile,
                                    const wchar_t* workingDirectory, const wchar_t* subfolder,
                                    const wchar_t* title, const wchar_t* description,
                                    int showCommand) {
    WideBufferPtr revision = FetchRevision(GetLocalRevisionTag);
    return AddProgramShortcut(targetDirectory, targetFile, arguments, iconFile, workingDirectory,
                              subfolder, title, description, showCommand, revision.get());
}

int RemoveProgramShortcut(const wchar_t* subfolder, const wchar_t* title, const wchar_t* revision) {
    WideBufferPtr shortcutPath = ComposeOwnShortcutPath(subfolder, title, revision);
    if (!shortcutPath) return 0;
    DeleteFileBothForms(shortcutPath.get());
    // With an empty revision, "<title> .lnk" is the name earlier releases wrote: delete it too.
    if (!revision[0]) {
        WideBufferPtr oldTitle(JoinStrings(2, title, L" "));
        WideBufferPtr oldPath = ComposeOwnShortcutPath(subfolder, oldTitle.get(), L"");
        if (oldPath) DeleteFileBothForms(oldPath.get());
    }
    return 0;
}

int RemoveProgramShortcutGlobalRevision(const wchar_t* subfolder, const wchar_t* title) {
    WideBufferPtr revision = FetchRevision(GetGlobalRevisionTag);
    return RemoveProgramShortcut(subfolder, title, revision.get());
}

int RemoveProgramShortcutFixedRevision(const wchar_t* subfolder, const wchar_t* title) {
    return RemoveProgramShortcut(subfolder, title, kBuiltInRevision);
}

int RemoveProgramShortcutNoRevision(const wchar_t* subfolder, const wchar_t* title) {
    return RemoveProgramShortcut(subfolder, title, L"");
}

int RemoveProgramShortcutLocalRevision(const wchar_t* subfolder, const wchar_t* title) {
    WideBufferPtr revision = FetchRevision(GetLocalRevisionTag);
    return RemoveProgramShortcut(subfolder, title, revision.get());
}

namespace {

// Deletes the file at `path` that DeleteFileW refused because it is marked read-only: a shortcut
// that a profile tool or the user marked so. Only a plain file with that attribute and a single
// name is touched: the path is opened without following a reparse point and never as a folder,
// and the attribute is cleared and the file deleted through that one handle, so no other file
// (a link's target, another name of the same file, whatever the path names by then) is changed.
// Should the deletion fail, the attribute is put back.
BOOL DeleteReadOnlyFile(const wchar_t* path) {
    UniqueHandle file = OwnHandle(
        CreateFileW(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return FALSE;
    BY_HANDLE_FILE_INFORMATION facts = {};
    if (!GetFileInformationByHandle(file.get(), &facts)) return FALSE;
    const DWORD refused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((facts.dwFileAttributes & refused) || !(facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ||
        facts.nNumberOfLinks != 1) {
        return FALSE;
    }
    FILE_BASIC_INFO basic = {};  // zero times: left as they are
    basic.FileAttributes = facts.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (!basic.FileAttributes) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic)) return FALSE;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                   sizeof disposition)) {
        return TRUE;  // gone once the handle closes
    }
    basic.FileAttributes = facts.dwFileAttributes;
    SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
    return FALSE;
}

}  // namespace

HRESULT DeleteFileBothForms(const wchar_t* path) {
    WideBufferPtr quoted(JoinStrings(3, L"\"", path, L"\""));
    BOOL plain = DeleteFileW(path);
    if (!plain && GetLastError() == ERROR_ACCESS_DENIED) plain = DeleteReadOnlyFile(path);
    BOOL inQuotes = DeleteFileW(quoted.get());
    return (plain || inQuotes) ? S_OK : E_FAIL;
}

HRESULT RemoveFolderIfNoFiles(const wchar_t* path) {
    if (!PathFileExistsW(path)) return E_FAIL;
    CoInitialize(nullptr);  // stays initialised for the rest of the process

    HRESULT listing = S_OK;
    HRESULT hr = ListFirstFile(path, &listing);
    if (FAILED(hr)) return hr;
    if (listing != S_FALSE) return kFolderHoldsFiles;
    // Every shell object is released by now, so none holds the directory open.
    _wrmdir(path);  // removes only an empty directory
    return 0;
}

int RemoveProgramsSubfolder(const wchar_t* relativePath) {
    if (!IsSafeSubfolder(relativePath)) return 0;
    WideBufferPtr programs = FetchProgramsFolder();
    if (!programs) return 0;
    WideBufferPtr path(JoinStrings(2, programs.get(), relativePath));
    RemoveFolderIfNoFiles(path.get());
    return 0;
}

int RemoveStartMenuFolder(const wchar_t* folderName) {
    // An empty name would examine, and perhaps remove, the Programs folder itself.
    if (!IsSafeFolderName(folderName) || !folderName[0]) return 0;

    WideBufferPtr path(AllocWideBuffer(kStartMenuFolderChars));
    if (!SHGetSpecialFolderPathW(nullptr, path.get(), ProgramsFolderId(), FALSE) ||
        path[0] == L'\0') {
        return 0;
    }
    size_t length = wcslen(path.get());
    size_t nameLength = wcslen(folderName);
    if (length + 1 + nameLength + 1 > kStartMenuFolderChars) return 0;
    path[length] = L'\\';
    wmemcpy(path.get() + length + 1, folderName, nameLength + 1);
    RemoveFolderIfNoFiles(path.get());
    return 0;
}
