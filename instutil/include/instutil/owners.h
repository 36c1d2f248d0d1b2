// Owners: each holds one thing the system hands out and gives it back, through its closing
// function, on every path out of the scope that holds it. Each is a one-line alias of the closing
// function; release() hands the thing on.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <memory>

// Calls `Close` on a held pointer; std::unique_ptr calls it only when the pointer is not null.
template <auto Close>
struct CloseWith {
    template <class T>
    void operator()(T* held) const {
        Close(held);
    }
};

// A T* given back with `Close`.
template <class T, auto Close>
using UniqueOwner = std::unique_ptr<T, CloseWith<Close>>;

// A WideBuffer or byte buffer held inside the library (array new, array delete).
using WideBufferPtr = std::unique_ptr<wchar_t[]>;
using BytesPtr = std::unique_ptr<BYTE[]>;

// A kernel handle (null when there is none; see OwnHandle for INVALID_HANDLE_VALUE).
using UniqueHandle = UniqueOwner<void, &::CloseHandle>;
// Memory from LocalAlloc, or returned by an API that says to free it with LocalFree.
using UniqueLocal = UniqueOwner<void, &::LocalFree>;
// An open registry key.
using UniqueHKey = UniqueOwner<HKEY__, &::RegCloseKey>;
// A SID from AllocateAndInitializeSid.
using UniqueSid = UniqueOwner<void, &::FreeSid>;
// A BSTR from SysAllocString.
using UniqueBstr = UniqueOwner<OLECHAR, &::SysFreeString>;
// A find handle from FindFirstFileW.
using UniqueFind = UniqueOwner<void, &::FindClose>;
// A C runtime stream from _wfopen.
using UniqueStdioFile = UniqueOwner<FILE, &::fclose>;

// A COM interface pointer, released when its owner goes.
inline void ReleaseInterface(IUnknown* unknown) {
    unknown->Release();
}
template <class T>
using UniqueCom = UniqueOwner<T, &ReleaseInterface>;

// Takes ownership of a handle; INVALID_HANDLE_VALUE and null both give an empty owner.
inline UniqueHandle OwnHandle(HANDLE handle) {
    return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}
inline UniqueLocal OwnLocal(void* memory) {
    return UniqueLocal(memory);
}
inline UniqueHKey OwnKey(HKEY key) {
    return UniqueHKey(key);
}
template <class T>
UniqueCom<T> OwnCom(T* object) {
    return UniqueCom<T>(object);
}

// COM initialised on the calling thread for as long as the owner lives: CoInitializeEx when it is
// made, CoUninitialize when it goes. Empty when CoInitializeEx failed (COM already initialised
// with another concurrency model, RPC_E_CHANGED_MODE): there is then nothing to balance. For the
// tests and the tools; the library's own functions initialise COM and leave it initialised.
inline void UninitializeCom(void*) {
    CoUninitialize();
}
using UniqueComInitialization = UniqueOwner<void, &UninitializeCom>;
inline UniqueComInitialization InitializeComForScope(DWORD model = COINIT_APARTMENTTHREADED) {
    static char initialized;  // the owner's non-null token; nothing is held
    return UniqueComInitialization(SUCCEEDED(CoInitializeEx(nullptr, model)) ? &initialized
                                                                             : nullptr);
}
