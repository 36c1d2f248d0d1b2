// Linked into both programs (not into the library archive, so that it takes the place of the
// runtime's own handler): what happens when something is thrown and nothing catches it, which
// in these programs is only a failed allocation.
//
// The runtime's default handler prints the exception's demangled name and calls abort(), which
// in a GUI program can put up a runtime-error box. The programs are silent: the process simply
// ends, with abort's exit code. Leaving out the default handler also leaves out the demangler
// and the formatted printing it brings, about a third of each program.
#include <windows.h>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    TerminateProcess(GetCurrentProcess(), 3);
}

}  // namespace __gnu_cxx
