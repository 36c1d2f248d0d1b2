#include "instutil/environment.h"

#include "instutil/owners.h"
#include "instutil/paths.h"

#include <cwchar>

namespace {

const wchar_t kUserEnvironmentKey[] = L"Environment";
const wchar_t kMachineEnvironmentKey[] =
    L"System\\CurrentControlSet\\Control\\Session Manager\\Environment";

// The time each window is given to answer the broadcast.
constexpr UINT kBroadcastTimeoutMs = 50;

// Opens an existing environment key for full access; an empty owner when that fails.
UniqueHKey OpenEnvironmentKey(HKEY root, const wchar_t* subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) key = nullptr;
    return OwnKey(key);
}

// Deletes `name` from an open key. Only when a value was removed is the process variable cleared
// and the change announced.
void DeleteVariableFromKey(HKEY key, const wchar_t* name) {
    if (RegDeleteValueW(key, name) != ERROR_SUCCESS) return;
    SetEnvironmentVariableW(name, nullptr);
    BroadcastEnvironmentChange();
}

}  // namespace

void BroadcastEnvironmentChange() {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                        reinterpret_cast<LPARAM>(L"Environment"), SMTO_NORMAL, kBroadcastTimeoutMs,
                        &answer);
}

HRESULT SetPersistentVariable(const wchar_t* name, const void* data, DWORD type,
                              EnvironmentScope scope) {
    HKEY root;
    const wchar_t* subkey;
    if (scope == kUserEnvironment) {
        root = HKEY_CURRENT_USER;
        subkey = kUserEnvironmentKey;
    } else if (scope == kMachineEnvironment) {
        root = HKEY_LOCAL_MACHINE;
        subkey = kMachineEnvironmentKey;
    } else {
        return E_INVALIDARG;
    }

    UniqueHKey key = OpenEnvironmentKey(root, subkey);
    if (!key) return E_FAIL;
    // Without data there is nothing that could be written.
    if (!data) return E_FAIL;

    const bool isString = type == REG_SZ || type == REG_EXPAND_SZ;
    const DWORD size =
        isString
            ? static_cast<DWORD>((wcslen(static_cast<const wchar_t*>(data)) + 1) * sizeof(wchar_t))
            : 4;
    if (RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size) !=
        ERROR_SUCCESS)
        return E_FAIL;

    // Only a plain string goes into the running process as well; an expandable or non-string
    // value reaches programs through the registry alone.
    if (type == REG_SZ) SetEnvironmentVariableW(name, static_cast<const wchar_t*>(data));
    BroadcastEnvironmentChange();
    return S_OK;
}

HRESULT DeletePersistentVariable(const wchar_t* name, EnvironmentScope scope) {
    if (scope == kUserEnvironment) {
        UniqueHKey userKey = OpenEnvironmentKey(HKEY_CURRENT_USER, kUserEnvironmentKey);
        if (!userKey) return E_FAIL;
        DeleteVariableFromKey(userKey.get(), name);
        return S_OK;
    }
    if (scope != kMachineEnvironment) return E_INVALIDARG;

    // The machine key is opened first, but whether that worked matters only once the user's
    // copy has been dealt with: a variable is removed from the user's environment either way.
    UniqueHKey machineKey = OpenEnvironmentKey(HKEY_LOCAL_MACHINE, kMachineEnvironmentKey);
    UniqueHKey userKey = OpenEnvironmentKey(HKEY_CURRENT_USER, kUserEnvironmentKey);
    if (userKey) DeleteVariableFromKey(userKey.get(), name);
    if (!machineKey) return E_FAIL;
    DeleteVariableFromKey(machineKey.get(), name);
    return S_OK;
}
