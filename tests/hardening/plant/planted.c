/* A DLL planted beside the program under a system DLL's name. If anything
 * loads it, DllMain leaves a line in the file named by PLANT_MARKER. */
#include <windows.h>

static void Mark(HINSTANCE self) {
    wchar_t path[MAX_PATH], name[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"PLANT_MARKER", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    char line[2 * MAX_PATH];
    DWORD length = GetModuleFileNameW(self, name, MAX_PATH);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, name, (int)length, line, sizeof line - 2, NULL, NULL);
    line[bytes++] = '\r';
    line[bytes++] = '\n';
    DWORD written;
    WriteFile(file, line, (DWORD)bytes, &written, NULL);
    CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) Mark(self);
    return TRUE;
}

/* What a caller of comctl32 looks up, so a load that got this far succeeds. */
__attribute__((dllexport)) BOOL WINAPI InitCommonControlsEx(const void* classes) {
    (void)classes;
    return TRUE;
}
__attribute__((dllexport)) void WINAPI InitCommonControls(void) {}
