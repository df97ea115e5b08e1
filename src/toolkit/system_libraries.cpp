#include "toolkit/system_libraries.h"

#include "toolkit/errors.h"

#include <strsafe.h>

namespace toolkit {

namespace {

// The system folder alone. The headers declare the flag for every Windows, but
// only one with default DLL directories (8 on, 7 with KB2533623) understands
// it: it is passed only where SetDefaultDllDirectories was found.
constexpr DWORD kSystemFolderOnly = LOAD_LIBRARY_SEARCH_SYSTEM32;

// The system folder's path of `name`; false when it does not fit.
bool SystemPath(const wchar_t* name, wchar_t (&path)[MAX_PATH]) {
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    Check(length != 0, "GetSystemDirectory");
    return length < MAX_PATH && SUCCEEDED(StringCchCatW(path, MAX_PATH, L"\\")) &&
           SUCCEEDED(StringCchCatW(path, MAX_PATH, name));
}

// The system folder's copy of `name`, or null with the thread's last error set.
ModuleHandle LoadFromSystemFolder(const DllSearch& search, const wchar_t* name) {
    wchar_t path[MAX_PATH];
    if (search.setDefaultDllDirectories) return ModuleHandle(LoadLibraryExW(name, nullptr, kSystemFolderOnly));
    if (!SystemPath(name, path)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return {};
    }
    // By full path, with the search for its own imports starting in its
    // folder; the executable's folder still comes first for any bare name
    // loaded later, so the caller loads those names here first.
    return ModuleHandle(LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

[[noreturn]] void ThrowLoadFailure(const wchar_t* name, DWORD error) {
    throw Win32Error(L"LoadLibraryEx(" + std::wstring(name) + L")", error);
}

}  // namespace

void NarrowDllSearch(const DllSearch& search) {
    Check(SetDllDirectoryW(L"") != FALSE, "SetDllDirectory");
    if (search.setDefaultDllDirectories)
        Check(search.setDefaultDllDirectories(kSystemFolderOnly) != FALSE, "SetDefaultDllDirectories");
}

ModuleHandle LoadSystemLibrary(const DllSearch& search, const wchar_t* name) {
    ModuleHandle module = LoadFromSystemFolder(search, name);
    if (!module) ThrowLoadFailure(name, GetLastError());
    return module;
}

ModuleHandle LoadSystemLibraryIfPresent(const DllSearch& search, const wchar_t* name) {
    ModuleHandle module = LoadFromSystemFolder(search, name);
    if (module) return module;
    const DWORD error = GetLastError();
    if (error != ERROR_MOD_NOT_FOUND) ThrowLoadFailure(name, error);
    return module;
}

}  // namespace toolkit
