// Windows platform probes: release classification, processor, service pack and registry reads.
//
// Nothing is kept between calls; every key opened is closed before an operation returns. No
// operation reports an error: a failed query gives no flag, false, the empty string or an
// untouched destination, as stated for each.
#pragma once

#include <windows.h>

#include "instutil/paths.h"

// One flag per recognised Windows release, each 0 or 1; ClassifyWindowsVersion sets at most
// one. The record belongs to the caller.
struct WindowsEditionFlags {
    unsigned char windows2000;          // 5.0
    unsigned char windowsXP;            // 5.1, and 5.2 workstation
    unsigned char windowsServer2003;    // 5.2 not workstation
    unsigned char windowsVista;         // 6.0 workstation
    unsigned char windowsServer2008;    // 6.0 not workstation, no HPC marks
    unsigned char windowsServer2008R2;  // 6.1 not workstation, no HPC marks
    unsigned char hpcServer;            // 6.0 or 6.1 not workstation with HPC marks
    unsigned char windows7;             // 6.1 workstation
    unsigned char windows8;             // 6.2 workstation
};

// The signature of kernel32's GetProductInfo, which is looked up at run time.
typedef BOOL(WINAPI* GetProductInfoFn)(DWORD osMajor, DWORD osMinor, DWORD spMajor, DWORD spMinor,
                                       DWORD* productType);

// Clears the caller's *flags and sets the flag of the release GetVersionExW reports, if any.
void ClassifyWindowsVersion(WindowsEditionFlags* flags);

// The decision behind ClassifyWindowsVersion, for a report of `major`.`minor` whose
// wProductType is `productType` (1 = workstation; anything else counts as a server). Clears
// *flags (the caller's) and sets at most one flag. Only a 6.0 or 6.1 server report runs the HPC
// test, through PassesHpcTest with `getProductInfo`.
void ClassifyVersionReport(DWORD major, DWORD minor, BYTE productType,
                           GetProductInfoFn getProductInfo, WindowsEditionFlags* flags);

// The HPC test for a server report of `major`.`minor`: true when `getProductInfo` (may be null
// when the system lacks it) gives product type 18 (cluster server) for that version with no
// service pack, or else when a subkey name of HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft contains
// "HPC" in any ASCII case (the 64-bit view when Is64BitProcessor says so).
bool PassesHpcTest(GetProductInfoFn getProductInfo, DWORD major, DWORD minor);

// Each reads one flag of the caller's record (which is only read): 0 or 1.
unsigned IsWindows2000(const WindowsEditionFlags* flags);
unsigned IsWindowsXP(const WindowsEditionFlags* flags);
unsigned IsWindowsServer2003(const WindowsEditionFlags* flags);
unsigned IsWindowsVista(const WindowsEditionFlags* flags);
unsigned IsWindowsServer2008(const WindowsEditionFlags* flags);
unsigned IsWindowsServer2008R2(const WindowsEditionFlags* flags);
unsigned IsHpcServer(const WindowsEditionFlags* flags);
unsigned IsWindows7(const WindowsEditionFlags* flags);
unsigned IsWindows8(const WindowsEditionFlags* flags);

// Stores in *holder a new WideBuffer with the service-pack text GetVersionExW reports (the
// empty string when there is none). *holder should be null on entry: what it held is neither
// read nor released. The caller frees the result with FreeAndClear.
void GetServicePackText(WideBuffer* holder);

// True when the environment variable PROCESSOR_IDENTIFIER contains "EM64T", "AMD64" or
// "Intel64" (case-sensitive); false otherwise, also when it is not set.
bool Is64BitProcessor();

// True when the existing key HKEY_LOCAL_MACHINE\`keyPath` has a readable subkey whose name,
// with a-z upper-cased, contains `pattern` with a-z upper-cased (an empty pattern matches any
// name). The key is opened for reading only, never created; a missing key, one that cannot be
// opened or one without subkeys gives false. `use64BitView` adds KEY_WOW64_64KEY to the opens.
// Both strings stay the caller's.
bool HasSubkeyContaining(const wchar_t* keyPath, const wchar_t* pattern, bool use64BitView);

// Reads the string value `valueName` (null or empty for the default value) of `root`\`subkey`
// into the caller's `destination`, which must hold at least 131 characters. When the key cannot
// be opened, `destination` is not written. Otherwise it receives the value's text, up to its
// terminator or the end of the data (at most 130 characters), or the empty string when the
// value is missing or its data exceed 260 bytes (a string of more than 129 characters with its
// terminator). The value's type is not checked. The caller keeps every argument.
void ReadRegistryString(HKEY root, const wchar_t* subkey, wchar_t* destination,
                        const wchar_t* valueName);
