// Stand-in product: records the moment it started (QueryPerformanceCounter)
// in the file named by VELQUOR_BENCH_STAMP, then exits.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    wchar_t path[MAX_PATH];
    if (GetEnvironmentVariableW(L"VELQUOR_BENCH_STAMP", path, MAX_PATH) == 0) return 1;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, &now.QuadPart, sizeof now.QuadPart, &written, nullptr);
    CloseHandle(file);
    return 0;
}
