// zqproc_sleep <milliseconds> [file]: ends the given time after its process was created (not
// after it got going, so start-up time does not count) and exit code 0. With `file`, it first
// creates <file>.done holding the path it was given.
#include "child_args.h"

#include <cwchar>
#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::vector<std::wstring> arguments = ChildArguments();
    if (arguments.empty()) return 2;
    ULONGLONG wanted = wcstoul(arguments[0].c_str(), nullptr, 10);

    FILETIME created, exited, kernel, user;
    FILETIME now;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER from, to;
        from.LowPart = created.dwLowDateTime;
        from.HighPart = created.dwHighDateTime;
        to.LowPart = now.dwLowDateTime;
        to.HighPart = now.dwHighDateTime;
        ULONGLONG elapsed = to.QuadPart > from.QuadPart ? (to.QuadPart - from.QuadPart) / 10000 : 0;
        wanted = elapsed < wanted ? wanted - elapsed : 0;
    }
    Sleep(static_cast<DWORD>(wanted));

    if (arguments.size() > 1 && !WriteWholeFile(arguments[1] + L".done", arguments[1])) return 3;
    return 0;
}
