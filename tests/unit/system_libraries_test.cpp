#include "toolkit/errors.h"
#include "toolkit/system_libraries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using toolkit::DllSearch;

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length);
}

std::wstring FileOf(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

struct LoaderPath {
    const char* name;
    DllSearch search;
};

// Where Windows has default DLL directories, and where it has not (Windows 7
// without KB2533623); Wine always has them, so the second is made up.
std::vector<LoaderPath> LoaderPaths() { return {{"default directories", toolkit::FindDllSearch()}, {"fallback", {}}}; }

TEST(LoadSystemLibrary, TakesTheSystemFoldersCopyOnEveryLoaderPath) {
    ASSERT_NE(LoaderPaths()[0].search.setDefaultDllDirectories, nullptr) << "this Windows lacks them";
    const std::wstring system = SystemFolder() + L"\\";
    for (const LoaderPath& path : LoaderPaths()) {
        for (const wchar_t* name : {L"comctl32.dll", L"uxtheme.dll", L"shcore.dll"}) {
            for (const auto load : {toolkit::LoadSystemLibrary, toolkit::LoadSystemLibraryIfPresent}) {
                const toolkit::ModuleHandle module = load(path.search, name);
                ASSERT_TRUE(module) << path.name;
                const std::wstring file = FileOf(module.get());
                EXPECT_EQ(_wcsnicmp(file.c_str(), system.c_str(), system.size()), 0)
                    << path.name << ": loaded from elsewhere than the system folder";
            }
        }
    }
}

TEST(LoadSystemLibrary, NamesTheLibraryItCouldNotLoad) {
    for (const LoaderPath& path : LoaderPaths()) {
        try {
            toolkit::LoadSystemLibrary(path.search, L"velquor-absent.dll");
            ADD_FAILURE() << path.name << ": no error";
        } catch (const toolkit::Win32Error& error) {
            EXPECT_EQ(error.code(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND)) << path.name;
            EXPECT_NE(error.Message().find(L"velquor-absent.dll"), std::wstring::npos);
        }
    }
}

// A DLL older Windows lack (shcore before 8.1) is simply absent there; any
// other failure is still an error.
TEST(LoadSystemLibraryIfPresent, GivesNothingForAnAbsentLibraryOnly) {
    for (const LoaderPath& path : LoaderPaths()) {
        EXPECT_FALSE(toolkit::LoadSystemLibraryIfPresent(path.search, L"velquor-absent.dll")) << path.name;
    }
    const std::wstring tooLong(MAX_PATH, L'a');
    try {
        toolkit::LoadSystemLibraryIfPresent({}, tooLong.c_str());
        ADD_FAILURE() << "a name past MAX_PATH gave no error";
    } catch (const toolkit::Win32Error& error) {
        EXPECT_EQ(error.code(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    }
}

}  // namespace
