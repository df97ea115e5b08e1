/* The control: a plain LoadLibraryW searches the program's folder first, so
 * from the plant's folder it must load the planted copy. Exit 0 if it loaded. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
    (void)instance;
    (void)previous;
    (void)show;
    return LoadLibraryW(commandLine[0] ? commandLine : L"comctl32.dll") ? 0 : 1;
}
