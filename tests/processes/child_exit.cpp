// zqproc_exit <code>: ends at once with the given exit code (a decimal number, may be negative).
#include "child_args.h"

#include <cwchar>
#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::vector<std::wstring> arguments = ChildArguments();
    if (arguments.empty()) return 2;
    ExitProcess(static_cast<UINT>(wcstol(arguments[0].c_str(), nullptr, 10)));
}
