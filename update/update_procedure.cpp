/*
 * The update's four steps, and how a run survives what players do to it.
 *
 * The game records only one thing: the settler INI's length. The start
 * calls the game updated once that file has changed, so it changes last,
 * after every other fix is on disk. Each step also finds its own work
 * done (a folder already renamed, a text already written), so a run that
 * failed or was cut short at any point is finished by the next one.
 *
 * A new text never overwrites a game file: it is written whole beside it
 * (a ".tmp" file, game_files.cpp) and then takes its name, in one call on
 * Windows NT and in two on 9x, where the game file is deleted first. What
 * a cut leaves there is settled at the next start: put in place when the
 * game file is already gone, removed otherwise.
 *
 * A second copy of the program (a player's second double click) would
 * otherwise settle the first copy's ".tmp" files away under it, so one
 * lock keeps runs apart on the PC (run_lock.cpp): a run waits for its
 * turn, a start settles leftovers only when no run is going, and a run
 * that takes over from a killed copy settles that copy's leftovers first.
 */
#include <windows.h>
#include <string.h>

#include "update_procedure.h"
#include "game_files.h"
#include "game_location.h"
#include "run_lock.h"
#include "unit_ini_texts.h"
#include "../installer/installer_dialog.h"
#include "../installer/status_log.h"
#include "../resources/resource.h"

#define COMPLETED_TEXT "Uaktualnienie zostało zainstalowane poprawnie."
#define WORKER_INI_SUFFIX "\\art\\units\\Robotnik Era Przemysłowa\\Robotnik Era Przemysłowa.ini"

/* How long a run waits for another copy's run to end: well beyond a slow
   run, even one that waits out a held file (about two seconds each) at
   several of its steps. A copy that holds on longer is not running its
   steps any more (it hangs, or a debugger stopped it). */
#define OTHER_RUN_WAIT_MS 30000

/* Non-zero from the moment the install command claims the worker until
   the worker has made its last append to the log. */
static volatile LONG g_installRunning = 0;

/* True while a worker exists that may still append to the log. */
bool IsInstallRunning(void)
{
    return InterlockedCompareExchange(&g_installRunning, 0, 0) != 0;
}

/*
 * Gives a misspelt unit art folder and the INI file inside it their right
 * names. Either may have it already, from an earlier run that stopped or
 * was cut short between the two. The INI is looked at even when the
 * folder could not be renamed, but the step counts as done only when both
 * stand under their right names.
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
    bool folderNamed = GiveRightName(from, to);

    strcpy(from, to);
    strcat(from, wrongIni);
    strcat(to, rightIni);
    bool iniNamed = GiveRightName(from, to);

    return folderNamed && iniNamed;
}

/* A unit INI file's path under the game folder. */
static const char *UnitIniPath(const char *suffix, char *path)
{
    strcpy(path, g_gameDir);
    strcat(path, suffix);
    return path;
}

/*
 * A run cut short between writing a replacement and putting it in place
 * leaves the replacement behind: it is finished or removed before the game
 * is looked at, so that the game folder holds each file whole under its
 * own name. Only ever done by the copy that holds the run lock.
 */
static void SettleLeftoverReplacements(void)
{
    static const char *const REWRITTEN[] = { SETTLER_INI_SUFFIX, WORKER_INI_SUFFIX };
    static const char *const TEXTS[] = { SETTLER_INI_TEXT, WORKER_INI_TEXT };
    static const size_t LENGTHS[] = { SETTLER_INI_LENGTH, WORKER_INI_LENGTH };
    char path[512];

    for (int i = 0; i < 2; i++)
        SettleLeftoverReplacement(UnitIniPath(REWRITTEN[i], path), TEXTS[i], LENGTHS[i]);
}

/*
 * At start, leftovers are settled only when no other copy is running its
 * steps: a replacement beside a game file may then be that run's, about
 * to be put in place. The start does not wait for it; a later start
 * settles what is still left.
 */
void SettleLeftoversUnlessAnotherCopyRuns(void)
{
    if (TakeRunLock(0) == RUN_LOCK_BUSY)
        return;
    SettleLeftoverReplacements();
    ReleaseRunLock();
}

/*
 * Waits until no other copy runs its steps, then holds the run lock. A
 * copy killed or closed mid-run lets go without finishing: what it left is
 * settled first, as the next start would.
 */
static bool TakeTurnToRun(void)
{
    RunLock lock = TakeRunLock(OTHER_RUN_WAIT_MS);
    if (lock == RUN_LOCK_TAKEN_OVER)
        SettleLeftoverReplacements();
    return lock != RUN_LOCK_BUSY;
}

/*
 * Carries out one numbered update step; true when it succeeded.
 *
 * The settler file's length is the update's one record: the start-up
 * checks call the game updated as soon as it changes. So the settler takes
 * its new text last, once every other fix is on disk: step 3 writes its
 * replacement, holds it open in settler and makes sure it can take the
 * settler's place, and step 4 puts it there after the worker file.
 */
static bool RunUpdateStep(int step, Replacement *settler)
{
    char path[512];

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
        return PrepareReplacement(UnitIniPath(SETTLER_INI_SUFFIX, path), SETTLER_INI_TEXT, SETTLER_INI_LENGTH,
                                  settler);
    case 4:
        return WriteWholeFile(UnitIniPath(WORKER_INI_SUFFIX, path), WORKER_INI_TEXT, WORKER_INI_LENGTH) &&
               PutReplacementInPlace(settler, SETTLER_INI_TEXT, SETTLER_INI_LENGTH);
    }
    return false;
}

/*
 * The worker: runs the four steps in order, logging each, and stops at the
 * first that fails so that the player may try again. Nothing done by an
 * earlier step is undone; the next run finds it done. Another copy's run
 * goes first: this one waits for its turn with its first step shown, and
 * then finds that run's work done.
 */
DWORD WINAPI InstallThreadProc(LPVOID parameter)
{
    static const char *const STEP_PREFIXES[] = {
        "Krok 1... ", "Krok 2... ", "Krok 3... ", "Krok 4... "
    };
    (void)parameter;

    EnableWindow(GetDlgItem(g_hDlg, IDC_INSTALL), FALSE);

    Replacement settler;
    settler.held = false;
    bool ourTurn = false;
    for (int step = 1; step <= 4; step++) {
        AppendStatus(STEP_PREFIXES[step - 1]);
        if (step == 1)
            ourTurn = TakeTurnToRun();
        if (!ourTurn || !RunUpdateStep(step, &settler)) {
            /* The settler's replacement goes, so that the next start opens
               the window again; the game is left as that start would
               leave it. A run that never had its turn touches nothing. */
            if (ourTurn) {
                DropReplacement(&settler);
                SettleLeftoverReplacements();
                ReleaseRunLock();
            }
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
    /* Before the box, which waits for the player while another copy may
       be waiting for its turn. */
    ReleaseRunLock();

    AppendStatus(NULL);
    AppendStatus(COMPLETED_TEXT);
    AppendStatus(NULL);
    InterlockedExchange(&g_installRunning, 0);

    SetDlgItemTextA(g_hDlg, IDC_CANCEL, "Zamknij");
    MessageBoxA(g_hDlg, COMPLETED_TEXT, "ValtheriaIII", MB_OK);
    return 0;
}

/*
 * "Instaluj": starts the worker. A command that arrives while the button is
 * disabled (during a run, or after the update is done) is ignored, adding
 * nothing to the log: the dialog manager turns Enter on the focused default
 * button into its command without asking whether it is enabled. So is one
 * that arrives while a worker still runs, before it has disabled the
 * button, since the log then belongs to that worker. The worker is created
 * suspended so that this command's line break stands in the log first.
 */
void OnInstallCommand(void)
{
    if (!IsWindowEnabled(GetDlgItem(g_hDlg, IDC_INSTALL)))
        return;
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
