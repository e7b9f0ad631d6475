#include <windows.h>
#include <string.h>

#include "installer_dialog.h"
#include "../resources/resource.h"

/*
 * Players start the update from wherever their browser saved it, as
 * administrator, and a DLL loaded by name is looked for in the exe's own
 * folder first: one saved there under a system DLL's name would run with
 * those rights. So before anything loads a DLL by name, the search is kept
 * to the system folder, and the current folder is left out of it too. The
 * functions are looked up, not imported, as the oldest Windows the game
 * runs on lacks them; there the DLLs that Windows loads by name for this
 * window later (the theming) are loaded from the system folder now, and a
 * later load by name finds them in the process already. The theming DLL's
 * own DLLs are then looked for beside it, in the system folder, not
 * beside the exe.
 */
static void KeepDllSearchInSystemFolder(void)
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFunction)(LPCSTR);
    static const char THEMING_DLL[] = "\\uxtheme.dll";

    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    SetDllDirectoryFunction setDllDirectory =
        (SetDllDirectoryFunction)(void *)GetProcAddress(kernel32, "SetDllDirectoryA");
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories =
        (SetDefaultDllDirectoriesFunction)(void *)GetProcAddress(kernel32, "SetDefaultDllDirectories");

    if (setDllDirectory != NULL)
        setDllDirectory("");
    if (setDefaultDllDirectories != NULL && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;

    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH - sizeof THEMING_DLL);
    if (length == 0 || length >= MAX_PATH - sizeof THEMING_DLL)
        return;
    strcpy(path + length, THEMING_DLL);
    LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

/*
 * Windows 11 and Windows 10 22H2 and later can refuse, for this process, to
 * follow a junction or a link that a user without administrator rights
 * made, even one swapped in after the program looked at the path. Turned on
 * first thing; looked up, not imported, as older Windows lack it, and there
 * the call fails without harm. The program's own checks of every game path
 * stay on all the same: Wine, for one, accepts the call and does nothing.
 */
static void RefuseRedirectionByUsers(void)
{
    typedef BOOL(WINAPI * SetMitigationFunction)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    SetMitigationFunction setMitigation = (SetMitigationFunction)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "SetProcessMitigationPolicy");
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy;
    memset(&policy, 0, sizeof policy);
    policy.EnforceRedirectionTrust = 1;
    if (setMitigation != NULL)
        setMitigation(ProcessRedirectionTrustPolicy, &policy, sizeof policy);
}

/*
 * The program is its one modal window; it ends when the window ends.
 * The exit status carries no meaning.
 */
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nCmdShow;
    RefuseRedirectionByUsers();
    KeepDllSearchInSystemFolder();
    g_hInstance = hInstance;
    return (int)DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_INSTALLER), NULL, InstallerDlgProc, 0);
}
