// zqproc_terminator <pattern>: calls TerminateProcessesByName(pattern) and, if it is still
// alive afterwards, exits with 10 + the result.
#include "instutil/processes.h"

#include "child_args.h"

#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::vector<std::wstring> arguments = ChildArguments();
    if (arguments.empty()) return 2;
    return 10 + TerminateProcessesByName(arguments[0].c_str());
}
