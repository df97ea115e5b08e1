#pragma once
// Loading system DLLs so that a copy planted beside the executable is never
// taken, on every Windows from 7 SP1 on. Functions newer than Windows 7 SP1
// are looked up at run time: importing them would stop the loader from
// starting the program at all where they are missing.
#include "toolkit/handles.h"

namespace toolkit {

// A function of a system DLL this process holds loaded; null, with the
// thread's last error set, where this Windows lacks it or the DLL is not loaded.
template <class Function>
Function FindSystemFunction(const wchar_t* module, const char* name) {
    const HMODULE loaded = GetModuleHandleW(module);
    if (!loaded) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(loaded, name)));
}

// SetDefaultDllDirectories: Windows 8 on, Windows 7 with KB2533623 only.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD directoryFlags);

struct DllSearch {
    // Null: this Windows has no default DLL directories, nor the
    // LOAD_LIBRARY_SEARCH_* flags that come with them.
    SetDefaultDllDirectoriesFn setDefaultDllDirectories = nullptr;
};

// What this Windows offers. Defined alone in dll_search.cpp, so that a test
// build can link its own definition and take the Windows 7 path anywhere.
DllSearch FindDllSearch();

// Takes the current folder out of the DLL search and, where this Windows
// can, every folder but the system one. Throws Win32Error on failure.
void NarrowDllSearch(const DllSearch& search);

// Loads the system folder's copy of `name` (a bare file name), and makes
// the DLLs it imports come from there too. Throws Win32Error on failure.
ModuleHandle LoadSystemLibrary(const DllSearch& search, const wchar_t* name);

// The same for a DLL that older Windows lack: null where the system folder
// has none. Throws Win32Error on any other failure.
ModuleHandle LoadSystemLibraryIfPresent(const DllSearch& search, const wchar_t* name);

}  // namespace toolkit
