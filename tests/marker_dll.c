/* A DLL that records each time a process loads it: on attaching it creates the file
   "<its own path>.loaded". Copies of it, under the names of the DLLs a program loads, show
   whether the program took any of them from where they were planted. It imports only
   kernel32.dll and has no runtime of its own, so that it loads, whatever name it goes by, in any
   process. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[1024];
        DWORD length = GetModuleFileNameW(instance, path, 1000);
        if (length > 0 && length < 1000) {
            lstrcpyW(path + length, L".loaded");
            HANDLE record = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, NULL);
            if (record != INVALID_HANDLE_VALUE) CloseHandle(record);
        }
    }
    return TRUE;
}
