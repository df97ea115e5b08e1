#include "toolkit/system_libraries.h"

#include "toolkit/errors.h"

#include <strsafe.h>

namespace toolkit {

namespace {

// Not declared by the headers for Windows 7: they come with KB2533623.
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

// The system folder's path of `name`; false when it does not fit.
bool SystemPath(const wchar_t* name, wchar_t (&path)[MAX_PATH]) {
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    Check(length != 0, "GetSystemDirectory");
    return length < MAX_PATH && SUCCEEDED(StringCchCatW(path, MAX_PATH, L"\\")) &&
           SUCCEEDED(StringCchCatW(path, MAX_PATH, name));
}

}  // namespace

void NarrowDllSearch(const DllSearch& search) {
    Check(SetDllDirectoryW(L"") != FALSE, "SetDllDirectory");
    if (search.setDefaultDllDirectories)
        Check(search.setDefaultDllDirectories(kSearchSystem32) != FALSE, "SetDefaultDllDirectories");
}

ModuleHandle LoadSystemLibrary(const DllSearch& search, const wchar_t* name) {
    ModuleHandle module;
    wchar_t path[MAX_PATH];
    if (search.setDefaultDllDirectories) {
        module.reset(LoadLibraryExW(name, nullptr, kSearchSystem32));
    } else if (SystemPath(name, path)) {
        // By full path, with the search for its own imports starting in its
        // folder; the executable's folder still comes first for any bare
        // name loaded later, so the caller loads those names here first.
        module.reset(LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    } else {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    if (!module) {
        const DWORD error = GetLastError();
        throw Win32Error(L"LoadLibraryEx(" + std::wstring(name) + L")", error);
    }
    return module;
}

}  // namespace toolkit
