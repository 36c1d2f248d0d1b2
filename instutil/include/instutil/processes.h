// Child processes: starting other programs and ending processes by name.
//
// Five ways to start a program, which differ in whether the shell or the process API starts it,
// in the window it gets, in handle inheritance and in how long the caller waits, and one way to
// end every other process whose executable name contains a text. Everything runs on the caller's
// thread; every snapshot, process and thread handle an operation receives is closed before it
// returns. Nothing shows a message or writes a log.
//
// Show commands are show-window values such as SW_HIDE (0) or SW_SHOWNORMAL (1); only their low
// 16 bits are used.
//
// Command lines handed to the process API must be writable: CreateProcessW may change the
// buffer during the call (it is restored before the call returns). It stays the caller's.
// Where no application name is given, the first token of the command line names the program,
// found by the platform's search rules. Children started through the process API inherit the
// caller's environment and current directory.
#pragma once

#include <windows.h>

// Terminates, with exit code 0, every process other than the caller whose executable file name
// (without directory) contains `pattern`, compared character for character with case.
//   pattern: zero-terminated; the caller's. Null or empty matches nothing.
// 1 when every termination tried succeeded (also when nothing matched); 0 when one failed (the
// walk still tries every other match), when the process list cannot be taken, or when
// `pattern` is null or empty. A process that cannot be opened, or whose image name no longer
// contains `pattern` once it is open (it ended and its identifier went to another process), is
// skipped without lowering the result.
int TerminateProcessesByName(const wchar_t* pattern);

// Starts a program through CreateProcessW with normal priority, no inherited handles, the
// window shown per `showCommand`, and the desktop named by an empty string.
//   applicationName: the program's path, or null to take it from the command line; the caller's.
//   commandLine:     writable, zero-terminated, or null when `applicationName` is given; the
//                    caller's.
// With `noWaitFlag` 1 it returns at once and the child runs on. With any other value it reads
// the child's exit code at once and then once a second; when the child is still running at the
// 30th reading it terminates it (exit code 0), about 30 seconds after the start.
// 0 once the child was started (and, when waiting, has ended or was terminated); -1 when it
// could not be created or both `applicationName` and `commandLine` are null.
int RunProcessWithTimeout(const wchar_t* applicationName, wchar_t* commandLine, int showCommand,
                          int noWaitFlag);

// Hands `file` to the shell with its default verb (ShellExecuteExW, no owner window, no working
// directory) and, when the shell started a process for it, waits for that process to end,
// without a time limit.
//   file:       a program, document or other item the shell can act on; the caller's.
//   parameters: passed to the program, or null; the caller's.
// The result of ShellExecuteExW: nonzero on success; 0 on failure, with the reason in the
// thread's last-error value. The shell is told to put up no error box of its own.
BOOL ShellRunAndWait(const wchar_t* file, const wchar_t* parameters, int showCommand);

// As ShellRunAndWait with the verb "open", but returns as soon as the shell has acted; no
// process handle is requested.
BOOL ShellOpen(const wchar_t* file, const wchar_t* parameters, int showCommand);

// Starts `commandLine` (writable, zero-terminated; the caller's) through CreateProcessW with a
// hidden window, letting the child inherit every inheritable handle the caller holds, and waits
// for it to end, without a time limit.
// -1 when the process cannot be created (a null `commandLine` included); otherwise the result of
// closing the child's process handle (nonzero), whatever the child's exit code was.
int RunHiddenAndWait(wchar_t* commandLine);

// As RunHiddenAndWait, but the child is the root of a new process group and nothing waits for
// it: the call returns once the child has been started.
int RunHiddenDetached(wchar_t* commandLine);
