#include <windows.h>

#include "installer_dialog.h"
#include "../resources/resource.h"

/*
 * The program is its one modal window; it ends when the window ends.
 * The exit status carries no meaning.
 */
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nCmdShow;
    g_hInstance = hInstance;
    return (int)DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_INSTALLER), NULL, InstallerDlgProc, 0);
}
