// VELQUOR's splash launcher: shows the splash window, which starts the
// product one second later and ends the application.
#include "UABERTURA/UABERTURA.h"
#include "toolkit/application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using toolkit::Application;
    Application.Guard([] {
        Application.Initialize();
        Application.MainFormOnTaskBar = true;
        Application.CreateForm(frm_abertura);
        Application.Run();
    });
    return 0;
}
