// VELQUOR's splash launcher: shows the splash window, which starts the
// product one second later and ends the application.
#include "UABERTURA/UABERTURA.h"
#include "toolkit/application.h"
#include "toolkit/stage_scope.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using toolkit::Application;
    // The launch holds the event loop until the product is ready, often longer
    // than the 5 s after which Windows would swap the splash for a faded ghost
    // marked as not responding.
    DisableProcessWindowsGhosting();
    Application.Guard([] {
        {
            toolkit::StageScope stage("start-up");
            Application.Initialize();
        }
        Application.MainFormOnTaskBar = true;
        {
            toolkit::StageScope stage("form");
            Application.CreateForm(frm_abertura);
        }
        Application.Run();
    });
    return 0;
}
