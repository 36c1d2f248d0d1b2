#include "test_support.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {

constexpr wchar_t kShellFoldersKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

void ListInto(const std::wstring& root, const std::wstring& relative,
              std::vector<std::wstring>* out) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out->push_back(relative + name + L"\\");
            ListInto(root, relative + name + L"\\", out);
        } else {
            out->push_back(relative + name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

}  // namespace

std::wstring MakeScratchDir(const std::wstring& tag) {
    static int counter = 0;
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring path = std::wstring(temp) + L"instkit-tests\\" + tag + L"-" +
                        std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    RemoveTree(path);
    MakeDirs(path);
    return path;
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

void MakeDirs(const std::wstring& path) {
    SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Narrow(path);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
}

std::string ReadBytes(const std::wstring& path, bool* exists) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (exists) *exists = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD got = 0;
    if (!bytes.empty()) ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> ListTree(const std::wstring& root) {
    std::vector<std::wstring> entries;
    ListInto(root, L"", &entries);
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::wstring ThisProgramDir() {
    wchar_t path[MAX_PATH * 2];
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    *(wcsrchr(path, L'\\') + 1) = L'\0';
    return path;
}

bool InOwnCopy() {
    static const wchar_t kMark[] = L"INSTKIT_IN_OWN_COPY";
    if (GetEnvironmentVariableW(kMark, nullptr, 0) != 0) return true;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    wchar_t self[MAX_PATH * 2];
    GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    const std::wstring folder = MakeScratchDir(L"own-copy");
    const std::wstring copy = folder + L"\\" + (wcsrchr(self, L'\\') + 1);
    EXPECT_TRUE(CopyFileW(self, copy.c_str(), TRUE)) << GetLastError();
    SetEnvironmentVariableW(kMark, L"1");
    std::string output;
    const DWORD code = RunProgram(L"\"" + copy + L"\" --gtest_filter=" +
                                      Widen(test->test_suite_name()) + L"." + Widen(test->name()),
                                  nullptr, 60000, nullptr, &output);
    SetEnvironmentVariableW(kMark, nullptr);
    // A filter that matched nothing would pass too: the copy must have run this one test.
    EXPECT_TRUE(code == 0 && output.find("[  PASSED  ] 1 test.") != std::string::npos)
        << "the test in its own copy (exit code " << code << "):\n"
        << output;
    RemoveTree(folder);
    return false;
}

std::wstring HostPathFromEnvironment(const wchar_t* name) {
    std::wstring path(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
    if (path.empty()) return path;
    path.resize(GetEnvironmentVariableW(name, &path[0], static_cast<DWORD>(path.size())));
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring BuiltProgram(const std::wstring& name) {
    return ThisProgramDir() + L"..\\..\\" + name + L"\\" + name + L".exe";
}

std::string Relinfo(const std::string& folder, const std::string& revision) {
    return "<r startMenuFolderName=\"" + folder + "\" startMenuShortcutAppendRevision=\"" +
           revision + "\"/>";
}

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], n);
    return text;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string utf8(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], n,
                        nullptr, nullptr);
    return utf8;
}

std::wstring ReadRegString(HKEY root, const wchar_t* subkey, const wchar_t* name) {
    wchar_t value[2048];
    DWORD size = sizeof(value);
    if (RegGetValueW(root, subkey, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, value, &size) != ERROR_SUCCESS) {
        return {};
    }
    return value;
}

void WriteRegExpandString(HKEY root, const wchar_t* subkey, const wchar_t* name,
                          const std::wstring& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void DeleteRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, name);
    RegCloseKey(key);
}

HANDLE MakeNonAdminToken() {
    HANDLE process = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process);
    // Made from the full token. Wine 10 starts its processes with a limited token linked to a full
    // one, and a program whose manifest asks for the highest available rights (as both programs'
    // do) started with a limited token runs with the linked full token instead: the deny-only
    // group would be lost (measured: Administrators 0xf in the child, not 0x19). A token made from
    // the full token has nothing to switch to, and the child keeps it as given, as under Wine 8,
    // whose processes run with a full token, and as on Windows, where CreateProcessAsUser never
    // elevates. (An environment of __COMPAT_LAYER=RunAsInvoker, which Windows' shell honours,
    // changes nothing under Wine 10.)
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (GetTokenInformation(process, TokenElevationType, &type, sizeof(type), &size) &&
        type == TokenElevationTypeLimited &&
        GetTokenInformation(process, TokenLinkedToken, &linked, sizeof(linked), &size)) {
        CloseHandle(process);
        process = linked.LinkedToken;
    }
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                             0, 0, 0, &admins);
    SID_AND_ATTRIBUTES denyOnly = {admins, 0};
    HANDLE restricted = nullptr;
    CreateRestrictedToken(process, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted);
    HANDLE primary = nullptr;
    DuplicateTokenEx(restricted, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                     &primary);
    FreeSid(admins);
    CloseHandle(restricted);
    CloseHandle(process);
    return primary;
}

namespace {

// Adds one line to the restart log that scripts/test.sh counts, when it names one.
void RecordRestart(const std::wstring& commandLine) {
    std::wstring log = HostPathFromEnvironment(L"INSTKIT_RESTART_LOG");
    if (log.empty()) return;
    HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::string line = Narrow(commandLine) + "\n";
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

BOOL StartAllowingWineRestarts(const std::function<BOOL()>& start, const std::wstring& what) {
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0) RecordRestart(what);
        SetLastError(ERROR_SUCCESS);
        started = start();
        if (!started && GetLastError() != ERROR_INTERNAL_ERROR) break;
    }
    return started;
}

DWORD RunProgram(const std::wstring& commandLine, HANDLE token, DWORD timeoutMs,
                 const wchar_t* currentDirectory, std::string* output) {
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    // The output file is inherited and shares its position with the child; it goes on closing.
    HANDLE outputFile = INVALID_HANDLE_VALUE;
    if (output) {
        wchar_t temp[MAX_PATH + 1];
        wchar_t name[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        GetTempFileNameW(temp, L"out", 0, name);
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        outputFile = CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                 CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        EXPECT_NE(outputFile, INVALID_HANDLE_VALUE);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = outputFile;
    }
    const BOOL inherits = output ? TRUE : FALSE;
    const BOOL started = StartAllowingWineRestarts(
        [&] {
            return token
                       ? CreateProcessAsUserW(token, nullptr, &line[0], nullptr, nullptr, inherits,
                                              0, nullptr, currentDirectory, &startup, &info)
                       : CreateProcessW(nullptr, &line[0], nullptr, nullptr, inherits, 0, nullptr,
                                        currentDirectory, &startup, &info);
        },
        commandLine);
    if (!started) {
        ADD_FAILURE() << "cannot start " << Narrow(commandLine) << ": " << GetLastError();
        if (outputFile != INVALID_HANDLE_VALUE) CloseHandle(outputFile);
        return static_cast<DWORD>(-1);
    }
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(info.hProcess, &code);
    } else {
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, 5000);
        code = STILL_ACTIVE;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    if (outputFile != INVALID_HANDLE_VALUE) {
        output->assign(GetFileSize(outputFile, nullptr), '\0');
        SetFilePointer(outputFile, 0, nullptr, FILE_BEGIN);
        DWORD got = 0;
        if (!output->empty()) {
            ReadFile(outputFile, &(*output)[0], static_cast<DWORD>(output->size()), &got, nullptr);
        }
        output->resize(got);
        CloseHandle(outputFile);
    }
    return code;
}

namespace {

// The import-table slot through which this program calls `function` of kernel32.dll.
void** KernelImportSlot(const char* function) {
    auto base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports); dll->Name;
         ++dll) {
        if (_stricmp(reinterpret_cast<const char*>(base + dll->Name), "kernel32.dll") != 0) {
            continue;
        }
        auto name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            auto byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                return reinterpret_cast<void**>(&slot->u1.Function);
            }
        }
    }
    return nullptr;
}

}  // namespace

KernelImportPatch::KernelImportPatch(const char* function, const void* replacement)
    : slot_(KernelImportSlot(function)) {
    EXPECT_NE(slot_, nullptr) << "this program does not import " << function;
    if (!slot_) return;
    original_ = *slot_;
    Write(const_cast<void*>(replacement));
}

KernelImportPatch::~KernelImportPatch() {
    if (slot_) Write(original_);
}

void KernelImportPatch::Write(void* value) {
    DWORD protection = 0;
    VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &protection);
    *slot_ = value;
    VirtualProtect(slot_, sizeof(void*), protection, &protection);
}

ShortcutFields ReadShortcut(const std::wstring& path) {
    ShortcutFields fields;
    ReadShortcutFile(path.c_str(), &fields);
    // Taken from the file's header (offset 0x3C): Wine's loader does not restore it.
    std::string bytes = ReadBytes(path);
    if (fields.loaded && bytes.size() >= 0x40) {
        fields.showCommand = *reinterpret_cast<const int*>(bytes.data() + 0x3C);
    }
    return fields;
}

void ProgramsFolderTest::SetUp() {
    scratch_ = MakeScratchDir(L"programs");
    // Deep enough that a path climbing out of a Programs folder still lands in the scratch folder.
    userPrograms_ = scratch_ + L"\\User\\Start Menu\\Programs";
    commonPrograms_ = scratch_ + L"\\Common\\Start Menu\\Programs";
    MakeDirs(userPrograms_);
    MakeDirs(commonPrograms_);
    savedUser_ = ReadRegString(HKEY_CURRENT_USER, kShellFoldersKey, L"Programs");
    savedCommon_ = ReadRegString(HKEY_LOCAL_MACHINE, kShellFoldersKey, L"Common Programs");
    WriteRegExpandString(HKEY_CURRENT_USER, kShellFoldersKey, L"Programs", userPrograms_);
    WriteRegExpandString(HKEY_LOCAL_MACHINE, kShellFoldersKey, L"Common Programs", commonPrograms_);
}

void ProgramsFolderTest::TearDown() {
    if (savedUser_.empty()) {
        DeleteRegValue(HKEY_CURRENT_USER, kShellFoldersKey, L"Programs");
    } else {
        WriteRegExpandString(HKEY_CURRENT_USER, kShellFoldersKey, L"Programs", savedUser_);
    }
    if (savedCommon_.empty()) {
        DeleteRegValue(HKEY_LOCAL_MACHINE, kShellFoldersKey, L"Common Programs");
    } else {
        WriteRegExpandString(HKEY_LOCAL_MACHINE, kShellFoldersKey, L"Common Programs",
                             savedCommon_);
    }
    RemoveTree(scratch_);
}
