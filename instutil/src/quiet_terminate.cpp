// Linked into both programs (not into the library archive, so that it takes the place of the
// runtime's own handlers): how the programs end when something fails that they cannot go on
// from. Either way the process simply ends, showing nothing and doing nothing further.
#include <windows.h>

#include <delayimp.h>

// What happens when something is thrown and nothing catches it, which in these programs is only
// a failed allocation.
//
// The runtime's default handler prints the exception's demangled name and calls abort(), which
// in a GUI program can put up a runtime-error box. Here the process ends with abort's exit code.
// Leaving out the default handler also leaves out the demangler and the formatted printing it
// brings, about a third of each program.
namespace __gnu_cxx {

void __verbose_terminate_handler() {
    TerminateProcess(GetCurrentProcess(), 3);
}

}  // namespace __gnu_cxx

// What happens when a delay-loaded system DLL, or a function in it, cannot be had (a DLL missing
// or disabled on this system). Without a hook the delay-load helper raises an exception that
// nothing handles: a crash report, and a non-zero exit status. The programs instead end at once
// with exit code 0, as they do after every run, leaving whatever they wrote before as it is.
namespace {

FARPROC WINAPI EndQuietlyOnDelayLoadFailure(unsigned notification, PDelayLoadInfo) {
    if (notification == dliFailLoadLib || notification == dliFailGetProc) {
        TerminateProcess(GetCurrentProcess(), 0);
    }
    return nullptr;
}

}  // namespace

// The delay-load helper's failure hook; defining it here keeps the runtime's empty one out.
extern "C" {
PfnDliHook __pfnDliFailureHook2 = EndQuietlyOnDelayLoadFailure;
}
