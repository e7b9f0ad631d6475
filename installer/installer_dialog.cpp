#include <windows.h>

#include "installer_dialog.h"
#include "status_log.h"
#include "../resources/resource.h"
#include "../update/game_location.h"
#include "../update/update_procedure.h"

HINSTANCE g_hInstance = NULL;
HWND g_hDlg = NULL;

/*
 * Loads the program's icon at one size; null when it cannot be loaded.
 * The icon stays loaded for the whole run.
 */
static HICON LoadInstallerIcon(int width, int height)
{
    return (HICON)LoadImageA(g_hInstance, MAKEINTRESOURCEA(IDI_INSTALLER), IMAGE_ICON,
                             width, height, LR_DEFAULTCOLOR);
}

/*
 * Prepares the hidden window and runs the start-up checks. Returns 0 when
 * the installer is to stay open, -1 when it is to end.
 */
static int OnInitInstaller(HWND hwnd)
{
    CreateStatus();
    g_hDlg = hwnd;

    HICON smallIcon = LoadInstallerIcon(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
    HICON largeIcon = LoadInstallerIcon(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    if (smallIcon != NULL)
        SendMessageA(hwnd, WM_SETICON, ICON_SMALL, (LPARAM)smallIcon);
    if (largeIcon != NULL)
        SendMessageA(hwnd, WM_SETICON, ICON_BIG, (LPARAM)largeIcon);

    return RunStartupChecks();
}

/*
 * The close box ends the dialog. The log goes with it, unless an update is
 * still running: its worker may append until the process ends, so the log
 * is then left to end with the process.
 */
static void OnInstallerClose(HWND hwnd)
{
    if (!IsInstallRunning())
        FreeStatus();
    EndDialog(hwnd, 0);
}

/*
 * Routes the installer window's messages. Esc (IDCANCEL) has no handler on
 * purpose: it must not end the program by accident.
 */
INT_PTR CALLBACK InstallerDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        if (OnInitInstaller(hwnd) == 0)
            return TRUE;
        PostQuitMessage(0);
        return FALSE;

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_INSTALL:
            OnInstallCommand();
            return TRUE;
        case IDC_CANCEL:
            PostQuitMessage(0);
            return TRUE;
        }
        return FALSE;

    case WM_CLOSE:
        OnInstallerClose(hwnd);
        return TRUE;
    }
    return FALSE;
}
