#ifndef INSTALLER_DIALOG_H
#define INSTALLER_DIALOG_H

#include <windows.h>

extern HINSTANCE g_hInstance;
extern HWND g_hDlg;

INT_PTR CALLBACK InstallerDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

#endif
