#include <windows.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include "update_procedure.h"
#include "game_location.h"
#include "unit_ini_texts.h"
#include "../installer/installer_dialog.h"
#include "../installer/status_log.h"
#include "../resources/resource.h"

#define COMPLETED_TEXT "Uaktualnienie zostało zainstalowane poprawnie."
#define WORKER_INI_SUFFIX "\\art\\units\\Robotnik Era Przemysłowa\\Robotnik Era Przemysłowa.ini"

/* Name given to a replacement file while it is being written beside the
   game's file; it takes the game file's place only when complete. */
#define REPLACEMENT_SUFFIX ".tmp"

/* How long in all a rename or a replacement waits for a file that another
   program holds, and the longest single pause between two tries. A virus
   scanner or an indexer lets go of a file it noticed within a moment; a
   lock that outlasts this is not passing and fails the step. */
#define LOCK_WAIT_MS 2000
#define LOCK_PAUSE_MAX_MS 250

/* Non-zero from the moment the install command claims the worker until
   the worker has made its last append to the log. */
static volatile LONG g_installRunning = 0;

/* True while a worker exists that may still append to the log. */
bool IsInstallRunning(void)
{
    return InterlockedCompareExchange(&g_installRunning, 0, 0) != 0;
}

/*
 * The errors with which Windows refuses to rename or replace a file that
 * another program has open: a scanner, an indexer or a launcher reading
 * it. Every other error is one that no waiting can cure.
 */
static bool IsHeldByAnotherProgram(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

/*
 * MoveFileExA that waits out a passing lock: while the file is held by
 * another program it is tried again after 10, 20, 40 ... ms, then every
 * quarter second, until about two seconds have passed. The short first
 * pauses catch the common case, a scanner reading a file just written.
 */
static bool MoveWaitingOutLocks(const char *from, const char *to, DWORD flags)
{
    DWORD started = GetTickCount();
    DWORD pause = 10;
    while (!MoveFileExA(from, to, flags)) {
        DWORD error = GetLastError();
        DWORD waited = GetTickCount() - started;
        if (!IsHeldByAnotherProgram(error) || waited >= LOCK_WAIT_MS)
            return false;
        Sleep(pause < LOCK_WAIT_MS - waited ? pause : LOCK_WAIT_MS - waited);
        pause = pause * 2 < LOCK_PAUSE_MAX_MS ? pause * 2 : LOCK_PAUSE_MAX_MS;
    }
    return true;
}

/*
 * Writes a whole file so that the game's file is either left as it was or
 * holds every byte of the new text: the bytes go to a file beside it first,
 * which replaces it only after it has been written and closed without
 * error. A read-only file, a missing folder or a full disk makes it fail
 * at once; a game file that another program holds is waited for a moment.
 */
bool WriteWholeFile(const char *path, const char *data, size_t length)
{
    char replacement[512 + sizeof(REPLACEMENT_SUFFIX)];
    if (strlen(path) >= 512)
        return false;

    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return false;

    strcpy(replacement, path);
    strcat(replacement, REPLACEMENT_SUFFIX);

    FILE *file = fopen(replacement, "wb");
    if (file == NULL)
        return false;
    size_t written = fwrite(data, 1, length, file);
    /* Buffered bytes reach the file only at the flush, which is checked on
       its own: not every C runtime reports its failure from fclose. The
       commit puts them on the disk before the replacement takes the game
       file's name, so that not even a power cut leaves a torn file. */
    int flushed = fflush(file);
    int committed = flushed == 0 ? _commit(_fileno(file)) : -1;
    int closed = fclose(file);

    if (written != length || flushed != 0 || committed != 0 || closed != 0 ||
        !MoveWaitingOutLocks(replacement, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(replacement);
        return false;
    }
    return true;
}

/*
 * Gives a misspelt unit art folder and the INI file inside it their right
 * names, each waiting out a passing lock. The INI is renamed even when the
 * folder rename failed, but the step counts as done only when both
 * succeeded.
 */
static bool RenameUnitFolder(const char *wrongFolder, const char *rightFolder,
                             const char *wrongIni, const char *rightIni)
{
    char from[512];
    char to[512];

    strcpy(from, g_gameDir);
    strcat(from, wrongFolder);
    strcpy(to, g_gameDir);
    strcat(to, rightFolder);
    bool folderRenamed = MoveWaitingOutLocks(from, to, 0);

    strcpy(from, to);
    strcat(from, wrongIni);
    strcat(to, rightIni);
    bool iniRenamed = MoveWaitingOutLocks(from, to, 0);

    return folderRenamed && iniRenamed;
}

/* Replaces one unit INI file under the game folder with a corrected text. */
static bool RewriteUnitIni(const char *suffix, const char *text, size_t length)
{
    char from[512];
    strcpy(from, g_gameDir);
    strcat(from, suffix);
    return WriteWholeFile(from, text, length);
}

/*
 * A run cut short between writing a replacement and putting it in place
 * leaves the replacement behind. It is never the game's file; removing it
 * keeps the game folder as the game's setup left it.
 */
void RemoveLeftoverReplacements(void)
{
    static const char *const REWRITTEN[] = { SETTLER_INI_SUFFIX, WORKER_INI_SUFFIX };
    char leftover[512 + sizeof(REPLACEMENT_SUFFIX)];

    for (int i = 0; i < 2; i++) {
        strcpy(leftover, g_gameDir);
        strcat(leftover, REWRITTEN[i]);
        strcat(leftover, REPLACEMENT_SUFFIX);
        DeleteFileA(leftover);
    }
}

/* Carries out one numbered update step; true when it succeeded. */
static bool RunUpdateStep(int step)
{
    switch (step) {
    case 1:
        return RenameUnitFolder("\\Art\\Units\\Przywódca Średiowiecze",
                                "\\Art\\Units\\Przywódca Średniowiecze",
                                "\\Przywódca Średiowiecze.ini",
                                "\\Przywódca Średniowiecze.ini");
    case 2:
        return RenameUnitFolder("\\Art\\Units\\Armia Średiowiecze",
                                "\\Art\\Units\\Armia Średniowiecze",
                                "\\Armia Średiowiecze.ini",
                                "\\Armia Średniowiecze.ini");
    case 3:
        return RewriteUnitIni(SETTLER_INI_SUFFIX, SETTLER_INI_TEXT, SETTLER_INI_LENGTH);
    case 4:
        return RewriteUnitIni(WORKER_INI_SUFFIX, WORKER_INI_TEXT, WORKER_INI_LENGTH);
    }
    return false;
}

/*
 * The worker: runs the four steps in order, logging each, and stops at the
 * first that fails so that the player may try again. Nothing done by an
 * earlier step is undone.
 */
DWORD WINAPI InstallThreadProc(LPVOID parameter)
{
    static const char *const STEP_PREFIXES[] = {
        "Krok 1... ", "Krok 2... ", "Krok 3... ", "Krok 4... "
    };
    (void)parameter;

    EnableWindow(GetDlgItem(g_hDlg, IDC_INSTALL), FALSE);

    for (int step = 1; step <= 4; step++) {
        AppendStatus(STEP_PREFIXES[step - 1]);
        if (!RunUpdateStep(step)) {
            AppendStatus("błąd!");
            AppendStatus(NULL);
            /* The log is the main thread's again before the button lets
               the player start another run. */
            InterlockedExchange(&g_installRunning, 0);
            EnableWindow(GetDlgItem(g_hDlg, IDC_INSTALL), TRUE);
            return 0;
        }
        AppendStatus("OK");
        AppendStatus(NULL);
    }

    AppendStatus(NULL);
    AppendStatus(COMPLETED_TEXT);
    AppendStatus(NULL);
    InterlockedExchange(&g_installRunning, 0);

    SetDlgItemTextA(g_hDlg, IDC_CANCEL, "Zamknij");
    MessageBoxA(g_hDlg, COMPLETED_TEXT, "ValtheriaIII", MB_OK);
    return 0;
}

/*
 * "Instaluj": starts the worker. A press that arrives while a worker still
 * runs (before it has disabled the button) is ignored, adding nothing to
 * the log, since the log then belongs to that worker. The worker is created
 * suspended so that this command's line break stands in the log first.
 */
void OnInstallCommand(void)
{
    if (InterlockedCompareExchange(&g_installRunning, 1, 0) != 0)
        return;

    DWORD threadId;
    HANDLE worker = CreateThread(NULL, 0, InstallThreadProc, NULL, CREATE_SUSPENDED, &threadId);
    if (worker == NULL) {
        InterlockedExchange(&g_installRunning, 0);
        AppendStatus("Błąd utworzenia wątku instalującego łatkę.");
        AppendStatus(NULL);
        return;
    }
    AppendStatus(NULL);
    ResumeThread(worker);
    CloseHandle(worker);
}
