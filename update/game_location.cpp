#include <windows.h>
#include <string.h>

#include "game_location.h"
#include "../installer/installer_dialog.h"
#include "../installer/status_log.h"
#include "update_procedure.h"
#include "windows_version.h"

#define GAME_REGISTRY_KEY "SOFTWARE\\Korvane Interactive\\Valtheria III"
#define GAME_REGISTRY_VALUE "INSTALL_PATH"

/* Longest value accepted: 249 characters and the terminating NUL. */
#define MAX_INSTALL_PATH_DATA 250
#define MAX_INSTALL_PATH_LENGTH (MAX_INSTALL_PATH_DATA - 1)

#define CHECKS_CAPTION "ValtheriaIII - Uaktualnienie 1"

static const char DESCRIPTION_TEXT[] =
    "Uaktualnienie do gry ValtheriaIII (PL)\n"
    "\n"
    "Usunięte błędy:\n"
    "\n"
    "- Błąd sygnalizowany komunikatem o braku pliku Przywódca.ini\n"
    "- Gra wychodziła do systemu z komunikatem Windows:\n"
    "\n"
    "VALTHERIA3 spowodował błąd: nieprawidłowa strona w\n"
    "module VALTHERIA3.EXE przy 'adres'\n"
    "\n"
    "gdzie adresem najczęściej jest liczba postaci 004030d3.\n";

char g_registryPath[256];
char g_gameDir[256];

/*
 * Reads the game folder that the game's setup left in the registry.
 * Returns 1 with dest (256 bytes) filled, or -1 with dest untouched when
 * the entry is missing, too long or empty.
 */
int ReadInstallPath(char *dest)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, GAME_REGISTRY_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;

    char value[256];
    DWORD size = MAX_INSTALL_PATH_DATA;
    LONG result = RegQueryValueExA(key, GAME_REGISTRY_VALUE, NULL, NULL, (BYTE *)value, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return -1;

    /* Registry data need not end in NUL: end the text after the bytes
       returned, never beyond them. */
    if (size > MAX_INSTALL_PATH_DATA)
        size = MAX_INSTALL_PATH_DATA;
    value[size] = '\0';

    /* An empty folder would turn every game path into one at the root of
       the current drive; 250 bytes without a NUL are one character too many. */
    size_t length = strlen(value);
    if (length == 0 || length > MAX_INSTALL_PATH_LENGTH)
        return -1;

    strcpy(dest, value);
    return 1;
}

/*
 * Returns the length of a file in bytes, or 0 when it cannot be opened
 * (or is past 2 GiB). Opened as any program reads it, asking on Windows NT
 * only to identify the program to whatever serves the name, so that a
 * name that leads to a named pipe cannot lend the program its rights.
 */
long ProbeFileLength(const char *path)
{
    DWORD flags = IsWindows9x() ? 0 : SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, flags, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    CloseHandle(file);
    return low != INVALID_FILE_SIZE && high == 0 && low <= 0x7FFFFFFF ? (long)low : 0;
}

/*
 * Finds the game, tells the player what the update repairs, and decides
 * whether there is still work to do. Returns 0 to open the window, -1 to end.
 */
int RunStartupChecks(void)
{
    int found = ReadInstallPath(g_registryPath);
    strcpy(g_gameDir, g_registryPath);

    if (found == -1) {
        MessageBoxA(g_hDlg,
                    "Brak wpisów gry ValtheriaIII w rejestrze systemowym.\n"
                    "Zainstaluj grę przed uruchomieniem uaktualnienia.",
                    CHECKS_CAPTION, MB_OK);
        return -1;
    }

    SettleLeftoversUnlessAnotherCopyRuns();
    MessageBoxA(g_hDlg, DESCRIPTION_TEXT, "ValtheriaIII (PL) - uaktualnienie", MB_OK);

    char settlerPath[512];
    strcpy(settlerPath, g_gameDir);
    strcat(settlerPath, SETTLER_INI_SUFFIX);
    if (ProbeFileLength(settlerPath) != PRISTINE_SETTLER_INI_SIZE) {
        MessageBoxA(g_hDlg, "Uaktualnienie jest już zainstalowane.", CHECKS_CAPTION, MB_OK);
        return -1;
    }

    AppendStatus("Witamy w uaktualnieniu do gry ValtheriaIII (uakt.1)");
    AppendStatus(NULL);
    AppendStatus(NULL);
    AppendStatus("Katalog, w którym zainstalowana jest gra: ");
    AppendStatus(g_gameDir);
    AppendStatus(NULL);
    return 0;
}
