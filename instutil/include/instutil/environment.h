// Persistent environment variables of the user and the machine.
//
// A variable is one named value in the user's environment key (HKCU\Environment) or the
// machine's (HKLM\System\CurrentControlSet\Control\Session Manager\Environment). Both keys are
// opened with full access and never created. Every change that reaches the registry is
// announced to the desktop's top-level windows with WM_SETTINGCHANGE ("Environment"), after the
// running process's own environment has been brought in line where that applies.
//
// Results: 0 for success, E_INVALIDARG for an unknown scope, E_FAIL when a key cannot be opened
// or a value cannot be written. The caller's strings and data are only read and stay the
// caller's; nothing keeps a pointer to them after a call returns.
#pragma once

#include <windows.h>

// Where a variable lives. Any value other than the two below is rejected with E_INVALIDARG.
typedef int EnvironmentScope;
constexpr EnvironmentScope kUserEnvironment = 0;     // HKEY_CURRENT_USER\Environment
constexpr EnvironmentScope kMachineEnvironment = 1;  // HKEY_LOCAL_MACHINE\...\Environment

// Creates or changes the variable `name` in the environment key of `scope`, as a value of
// registry type `type` (passed to the registry unchanged).
//   name: zero-terminated; the caller's.
//   data: the caller's. For REG_SZ and REG_EXPAND_SZ a zero-terminated string, written with
//         its terminator; for every other type exactly 4 bytes are written from it.
// A REG_SZ value is also set in the running process's environment at once; other types leave
// the process environment alone. One broadcast follows a successful write.
// E_FAIL when the key cannot be opened or the value cannot be written (a null `data` counts as
// such); the process environment is then unchanged and nothing is broadcast.
HRESULT SetPersistentVariable(const wchar_t* name, const void* data, DWORD type,
                              EnvironmentScope scope);

// Deletes the variable `name` (zero-terminated; the caller's) from the environment key of
// `scope`. Machine scope deletes it from the user's key first and then from the machine's. Each
// value actually deleted also clears the variable in the running process and is followed by its
// own broadcast; a value that does not exist is passed over silently.
// E_FAIL when a key cannot be opened. At machine scope the user's key has been processed by then
// (what was removed there stays removed).
HRESULT DeletePersistentVariable(const wchar_t* name, EnvironmentScope scope);

// Sends WM_SETTINGCHANGE with the text "Environment" to every top-level window, waiting at most
// 50 ms for each. The outcome is not examined.
void BroadcastEnvironmentChange();
