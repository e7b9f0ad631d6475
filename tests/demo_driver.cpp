// Plays the player's part for the demo when nobody is at the screen: lays
// out the sample game, starts the updater, answers its windows, takes a
// screenshot of each stage and prints the final log.
//   demo_driver UPDATER_EXE GAME_DIR SHOTS_DIR [--watch]
// With --watch it only lays out the game and starts the updater for the
// person at the screen, then waits for it to end.
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
    // Let the window paint before it is taken.
    UpdateWindow(window);
    Sleep(300);
    SaveScreenshot(window, dir + "\\" + name + ".bmp");
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: demo_driver UPDATER_EXE GAME_DIR SHOTS_DIR [--watch]\n");
        return 2;
    }
    g_updaterExe = WindowsPathFromUnix(argv[1]);
    std::string gameDir = argv[2];
    std::string shots = WindowsPathFromUnix(argv[3]);
    bool watch = argc > 4 && strcmp(argv[4], "--watch") == 0;

    MakeSampleGame(gameDir);
    if (!SetInstallPath(gameDir)) {
        fprintf(stderr, "demo: cannot write the registry entry\n");
        return 1;
    }
    PROCESS_INFORMATION process;
    if (!StartUpdater(&process)) {
        fprintf(stderr, "demo: cannot start %s\n", g_updaterExe.c_str());
        return 1;
    }
    if (watch) {
        WaitForSingleObject(process.hProcess, INFINITE);
        return 0;
    }

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
