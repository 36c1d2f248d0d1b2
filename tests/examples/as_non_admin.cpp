// Runs the command line that follows its own name with a token in which the Administrators group
// is deny-only, as an administrator's unelevated start (or a standard user's) has it, and exits
// with the started program's exit code: how the example tests start an installer as a
// non-administrator.
#include "test_support.h"

#include <cwchar>

int wmain() {
    // Skip this program's own name, quoted or not, and the blanks after it.
    const wchar_t* rest = GetCommandLineW();
    if (*rest == L'"') {
        rest = std::wcschr(rest + 1, L'"');
        rest = rest ? rest + 1 : L"";
    } else {
        while (*rest && *rest != L' ' && *rest != L'\t') ++rest;
    }
    while (*rest == L' ' || *rest == L'\t') ++rest;
    HANDLE token = MakeNonAdminToken();
    if (!token) return 1;
    DWORD code = RunProgram(rest, token);
    CloseHandle(token);
    return static_cast<int>(code);
}
