// The demo's helper inside Wine.
//   demo_driver layout GAME_DIR          lays out the sample game, pristine,
//                                        and writes the registry entry
//   demo_driver watch UPDATER_EXE        starts the updater for the person at
//                                        the screen and waits for it to end
//   demo_driver drive UPDATER_EXE SHOTS  plays the player's part: answers the
//                                        windows, takes a screenshot of each
//                                        stage and prints the final log
#include <stdio.h>
#include <string.h>

#include "resources/resource.h"
#include "test_support.h"

static const DWORD WAIT_MS = 30000;

static HWND Expect(const PROCESS_INFORMATION &process, const char *caption)
{
    HWND window = WaitForDialog(process.dwProcessId, caption, WAIT_MS);
    if (!window)
        fprintf(stderr, "demo: no window \"%s\" appeared\n", caption);
    return window;
}

static void Shot(HWND window, const std::string &dir, const char *name)
{
    // The window and its controls are painted before the picture is taken.
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, NULL);
    SaveScreenshot(window, dir + "\\" + name + ".bmp");
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: demo_driver layout GAME_DIR | watch UPDATER_EXE | drive UPDATER_EXE SHOTS_DIR\n");
        return 2;
    }
    std::string mode = argv[1];
    if (mode == "layout") {
        MakeSampleGame(argv[2]);
        if (!SetInstallPath(argv[2])) {
            fprintf(stderr, "demo: cannot write the registry entry\n");
            return 1;
        }
        return 0;
    }

    g_updaterExe = WindowsPathFromUnix(argv[2]);
    PROCESS_INFORMATION process;
    if (!StartUpdater(&process)) {
        fprintf(stderr, "demo: cannot start %s\n", g_updaterExe.c_str());
        return 1;
    }
    if (mode == "watch" || argc < 4) {
        WaitForSingleObject(process.hProcess, INFINITE);
        return 0;
    }
    std::string shots = WindowsPathFromUnix(argv[3]);

    HWND box = Expect(process, DESCRIPTION_CAPTION);
    if (!box)
        return 1;
    Shot(box, shots, "1-description");
    CloseMessageBox(box);

    HWND dialog = Expect(process, INSTALLER_CAPTION);
    if (!dialog)
        return 1;
    Shot(dialog, shots, "2-installer");
    PressButton(dialog, IDC_INSTALL);

    box = Expect(process, DONE_CAPTION);
    if (!box)
        return 1;
    Shot(dialog, shots, "3-updated");
    Shot(box, shots, "4-completion");
    CloseMessageBox(box);

    printf("%s", LogText(dialog).c_str());
    PressButton(dialog, IDC_CANCEL);
    bool ended = WaitForExit(process, WAIT_MS, NULL);
    EndProcess(process);
    return ended ? 0 : 1;
}
