// zqproc_probe <file> <event handle>: reports how it was started. It signals the event through
// the handle value it was given (which works only when the handle was inherited), then writes
// <file> holding "flags=<dwFlags> show=<wShowWindow>" from its start-up information.
#include "child_args.h"

#include <cwchar>
#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::vector<std::wstring> arguments = ChildArguments();
    if (arguments.size() < 2) return 2;
    HANDLE event = reinterpret_cast<HANDLE>(wcstoul(arguments[1].c_str(), nullptr, 0));
    SetEvent(event);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    std::wstring report = L"flags=" + std::to_wstring(startup.dwFlags) + L" show=" +
                          std::to_wstring(startup.wShowWindow);
    return WriteWholeFile(arguments[0], report) ? 0 : 3;
}
