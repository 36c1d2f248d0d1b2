#include "instutil/platform.h"

#include "instutil/owners.h"

#include <cwchar>

namespace {

// A version report as GetVersionExW gives it; every field stays 0 when the call fails.
OSVERSIONINFOEXW QueryVersion() {
    OSVERSIONINFOEXW info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
    return info;
}

GetProductInfoFn FindGetProductInfo() {
    // kernel32.dll is always loaded; only a system without the function leaves this null.
    FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetProductInfo");
    return reinterpret_cast<GetProductInfoFn>(reinterpret_cast<void (*)()>(found));
}

// Registry names hold at most 255 characters; this leaves room for the terminator.
constexpr DWORD kSubkeyNameCapacity = 260;
// Data capacity of ReadRegistryString's query, in bytes: 129 characters and a terminator.
constexpr DWORD kValueBytes = 260;

}  // namespace

void ClassifyWindowsVersion(WindowsEditionFlags* flags) {
    OSVERSIONINFOEXW info = QueryVersion();
    ClassifyVersionReport(info.dwMajorVersion, info.dwMinorVersion, info.wProductType,
                          FindGetProductInfo(), flags);
}

void ClassifyVersionReport(DWORD major, DWORD minor, BYTE productType,
                           GetProductInfoFn getProductInfo, WindowsEditionFlags* flags) {
    *flags = WindowsEditionFlags{};
    const bool workstation = productType == VER_NT_WORKSTATION;
    if (major == 5) {
        if (minor == 0) {
            flags->windows2000 = 1;
        } else if (minor == 1 || (minor == 2 && workstation)) {
            flags->windowsXP = 1;
        } else if (minor == 2) {
            flags->windowsServer2003 = 1;
        }
    } else if (major == 6 && workstation) {
        if (minor == 0) {
            flags->windowsVista = 1;
        } else if (minor == 1) {
            flags->windows7 = 1;
        } else if (minor == 2) {
            flags->windows8 = 1;
        }
    } else if (major == 6 && (minor == 0 || minor == 1)) {
        if (PassesHpcTest(getProductInfo, major, minor)) {
            flags->hpcServer = 1;
        } else if (minor == 0) {
            flags->windowsServer2008 = 1;
        } else {
            flags->windowsServer2008R2 = 1;
        }
    }
}

bool PassesHpcTest(GetProductInfoFn getProductInfo, DWORD major, DWORD minor) {
    DWORD product = PRODUCT_UNDEFINED;
    if (getProductInfo) getProductInfo(major, minor, 0, 0, &product);
    if (product == PRODUCT_CLUSTER_SERVER) return true;
    return HasSubkeyContaining(L"SOFTWARE\\Microsoft", L"HPC", Is64BitProcessor());
}

unsigned IsWindows2000(const WindowsEditionFlags* flags) {
    return flags->windows2000;
}
unsigned IsWindowsXP(const WindowsEditionFlags* flags) {
    return flags->windowsXP;
}
unsigned IsWindowsServer2003(const WindowsEditionFlags* flags) {
    return flags->windowsServer2003;
}
unsigned IsWindowsVista(const WindowsEditionFlags* flags) {
    return flags->windowsVista;
}
unsigned IsWindowsServer2008(const WindowsEditionFlags* flags) {
    return flags->windowsServer2008;
}
unsigned IsWindowsServer2008R2(const WindowsEditionFlags* flags) {
    return flags->windowsServer2008R2;
}
unsigned IsHpcServer(const WindowsEditionFlags* flags) {
    return flags->hpcServer;
}
unsigned IsWindows7(const WindowsEditionFlags* flags) {
    return flags->windows7;
}
unsigned IsWindows8(const WindowsEditionFlags* flags) {
    return flags->windows8;
}

void GetServicePackText(WideBuffer* holder) {
    OSVERSIONINFOEXW info = QueryVersion();
    const size_t length = wcsnlen(info.szCSDVersion, ARRAYSIZE(info.szCSDVersion));
    WideBuffer text = AllocWideBuffer(length + 1);
    wmemcpy(text, info.szCSDVersion, length);
    text[length] = L'\0';
    *holder = text;
}

bool Is64BitProcessor() {
    const wchar_t* name = L"PROCESSOR_IDENTIFIER";
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return false;
    WideBufferPtr value(AllocWideBuffer(needed));
    const DWORD got = GetEnvironmentVariableW(name, value.get(), needed);
    // Zero: gone or empty now; not below `needed`: it grew and nothing was copied.
    if (got == 0 || got >= needed) return false;
    return wcsstr(value.get(), L"EM64T") || wcsstr(value.get(), L"AMD64") ||
           wcsstr(value.get(), L"Intel64");
}

bool HasSubkeyContaining(const wchar_t* keyPath, const wchar_t* pattern, bool use64BitView) {
    if (!pattern) return false;
    const REGSAM view = use64BitView ? KEY_WOW64_64KEY : 0;
    // Opened, never created: a probe must not leave an empty key behind.
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0,
                      KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | view, &opened) != ERROR_SUCCESS) {
        return false;
    }
    UniqueHKey key = OwnKey(opened);
    DWORD subkeys = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }

    WideBufferPtr upperPattern(AllocWideBuffer(wcslen(pattern) + 1));
    ToUpperAscii(pattern, upperPattern.get());
    wchar_t name[kSubkeyNameCapacity];
    wchar_t upperName[kSubkeyNameCapacity];
    for (DWORD index = 0; index < subkeys; ++index) {
        DWORD length = kSubkeyNameCapacity;
        if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            continue;  // a name that cannot be read is skipped
        }
        ToUpperAscii(name, upperName);
        if (wcsstr(upperName, upperPattern.get())) return true;
    }
    return false;
}

void ReadRegistryString(HKEY root, const wchar_t* subkey, wchar_t* destination,
                        const wchar_t* valueName) {
    HKEY opened = nullptr;
    if (RegOpenKeyW(root, subkey, &opened) != ERROR_SUCCESS) return;
    // With an empty or null subkey the open hands back `root` itself, which stays the caller's.
    UniqueHKey key = OwnKey(opened == root ? nullptr : opened);

    // One unit beyond the data capacity, so that text stored without a terminator still ends.
    wchar_t data[kValueBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = kValueBytes;
    if (RegQueryValueExW(opened, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                         &size) != ERROR_SUCCESS) {
        destination[0] = L'\0';
        return;
    }
    data[size / sizeof(wchar_t)] = L'\0';  // a trailing odd byte is no character
    wcscpy(destination, data);
}
