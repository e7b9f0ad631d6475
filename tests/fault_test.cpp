// Faults and bad input: runs cut short at many points, presses arriving
// together, endless retries, a full disk, odd registry values, and what a
// run touches on the whole drive.
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <stdio.h>
#include <string.h>

#include "installer/status_log.h"
#include "update/game_location.h"
#include "updater_fixture.h"

namespace {

const std::string SETTLER_NEW(SETTLER_INI_TEXT, SETTLER_INI_LENGTH);
const std::string WORKER_NEW(WORKER_INI_TEXT, WORKER_INI_LENGTH);
const char STEP_ONE_FAILED[] = "\r\nKrok 1... błąd!\r\n";

class Faults : public Updater {
protected:
    // A unit INI that a step renames must stand, whole, in exactly one of
    // the places the step may leave it. Returns the place's number: 0 as
    // installed, 1 folder renamed, 2 folder and INI renamed.
    int RenamedUnitPlace(const char *dirWrong, const char *dirRight, const char *iniWrong, const char *iniRight,
                         const std::string &content)
    {
        std::string places[] = { std::string(dirWrong) + iniWrong, std::string(dirRight) + iniWrong,
                                 std::string(dirRight) + iniRight };
        int found = -1, count = 0;
        for (int i = 0; i < 3; i++)
            if (Exists(game.dir + places[i])) {
                found = i;
                count++;
                EXPECT_EQ(File(places[i]), content) << places[i];
            }
        EXPECT_EQ(count, 1) << dirWrong;
        return found;
    }
    // Checks that every file the update touches is whole, old or new, and
    // returns how far the update got: the number of steps whose work is on
    // disk, counted in order.
    int ExpectWholeFiles()
    {
        int leader = RenamedUnitPlace(LEADER_DIR_WRONG, LEADER_DIR_RIGHT, LEADER_INI_WRONG, LEADER_INI_RIGHT,
                                      game.leaderIni);
        int army = RenamedUnitPlace(ARMY_DIR_WRONG, ARMY_DIR_RIGHT, ARMY_INI_WRONG, ARMY_INI_RIGHT, game.armyIni);
        std::string settler = File(SETTLER_INI), worker = File(WORKER_INI);
        EXPECT_TRUE(settler == game.settlerIni || settler == SETTLER_NEW) << "settler: " << settler.size() << " bytes";
        EXPECT_TRUE(worker == game.workerIni || worker == WORKER_NEW) << "worker: " << worker.size() << " bytes";
        int steps = 0;
        if (leader == 2) {
            steps = 1;
            if (army == 2) {
                steps = 2;
                if (settler == SETTLER_NEW)
                    steps = worker == WORKER_NEW ? 4 : 3;
            }
        }
        return steps;
    }
    void ExpectNoReplacementsLeft()
    {
        EXPECT_FALSE(Exists(game.dir + SETTLER_INI + ".tmp"));
        EXPECT_FALSE(Exists(game.dir + WORKER_INI + ".tmp"));
    }
    // Starts the program once more after a run was cut short and lets it
    // do what it will; returns how far the game is then updated.
    int NextRun()
    {
        Start();
        Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
        HWND dialog = NULL;
        DWORD start = GetTickCount();
        while (!dialog) {
            if (HWND already = FindDialog(process.dwProcessId, CHECKS_CAPTION)) {
                EXPECT_EQ(MessageBoxText(already), ALREADY_TEXT);
                CloseMessageBox(already);
                EXPECT_TRUE(WaitForExit(process, WAIT_MS, NULL));
                return ExpectWholeFiles();
            }
            dialog = FindDialog(process.dwProcessId, INSTALLER_CAPTION);
            if (GetTickCount() - start > WAIT_MS) {
                ADD_FAILURE() << "neither the window nor the already-installed box";
                return -1;
            }
            Sleep(5);
        }
        // The replacements of the cut run are gone before anything is read.
        ExpectNoReplacementsLeft();
        PressButton(dialog, IDC_INSTALL);
        start = GetTickCount();
        for (;;) {
            if (FindDialog(process.dwProcessId, DONE_CAPTION))
                break;
            if (WaitForLogEnd(dialog, "błąd!\r\n", 0))
                break;
            if (GetTickCount() - start > WAIT_MS) {
                ADD_FAILURE() << "the next run did not end";
                break;
            }
            Sleep(5);
        }
        DWORD exitCode;
        CloseByCloseBox(dialog, &exitCode);
        ExpectNoReplacementsLeft();
        return ExpectWholeFiles();
    }
};

void BusyWaitMicroseconds(LONGLONG us)
{
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    do
        QueryPerformanceCounter(&now);
    while ((now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart < us);
}

LONGLONG MicrosecondsSince(const LARGE_INTEGER &start)
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
}

TEST_F(Faults, ARunCutShortAtAnyPointLeavesEveryFileWhole)
{
    // How long the steps of a run take here, from the press to the last
    // file written: the shortest of a few runs, as the first is slowed by
    // start-up.
    LONGLONG shortest = 0;
    for (int run = 0; run < 3; run++) {
        UseGame(GAME_DIR);
        HWND dialog = OpenInstaller();
        ASSERT_NE(dialog, (HWND)NULL);
        LARGE_INTEGER pressed;
        QueryPerformanceCounter(&pressed);
        PressButton(dialog, IDC_INSTALL);
        // Watched on disk, as asking the window would slow the run; by the
        // size alone, as an open file could not be replaced.
        WIN32_FILE_ATTRIBUTE_DATA worker = {};
        while (!GetFileAttributesExA((game.dir + WORKER_INI).c_str(), GetFileExInfoStandard, &worker) ||
               worker.nFileSizeLow != WORKER_INI_LENGTH)
            ASSERT_LT(MicrosecondsSince(pressed), (LONGLONG)WAIT_MS * 1000);
        LONGLONG took = MicrosecondsSince(pressed);
        if (run == 0 || took < shortest)
            shortest = took;
        EndProcess(process);
    }
    LONGLONG span = shortest * 5 / 4;
    HWND dialog;

    const int POINTS = 60;
    std::map<int, int> cutAfter, finishedAfter;
    for (int point = 0; point < POINTS; point++) {
        bool kill = point % 2 == 1;
        LONGLONG delay = span * (point / 2) / (POINTS / 2 - 1);
        SCOPED_TRACE(testing::Message() << (kill ? "killed" : "closed") << " " << delay << " us after the press");
        UseGame(GAME_DIR);
        dialog = OpenInstaller();
        ASSERT_NE(dialog, (HWND)NULL);

        PressButton(dialog, IDC_INSTALL);
        BusyWaitMicroseconds(delay);
        DWORD exitCode = 0;
        if (kill) {
            TerminateProcess(process.hProcess, 9);
            ASSERT_TRUE(WaitForExit(process, WAIT_MS, &exitCode));
            EXPECT_EQ(exitCode, 9u);
        } else {
            CloseByCloseBox(dialog, &exitCode);
            EXPECT_EQ(exitCode, 0u) << "the program did not end cleanly";
        }
        cutAfter[ExpectWholeFiles()]++;
        finishedAfter[NextRun()]++;
        if (HasFailure())
            break;
    }
    printf("Runs cut short at %d points over %lld us: steps done when cut:", POINTS, span);
    for (auto &c : cutAfter)
        printf(" %d: %d", c.first, c.second);
    printf("; after the next start:");
    for (auto &c : finishedAfter)
        printf(" %d: %d", c.first, c.second);
    printf("\n");
}

TEST_F(Faults, AReplacementLeftByAKillIsRemovedAndNeverRead)
{
    // As if a kill had struck between writing the replacement and putting
    // it in place: a whole new text beside the game's file, and a torn one.
    ASSERT_TRUE(WriteBytes(game.dir + SETTLER_INI + ".tmp", SETTLER_NEW));
    ASSERT_TRUE(WriteBytes(game.dir + WORKER_INI + ".tmp", WORKER_NEW.substr(0, 100)));
    HWND dialog = OpenInstaller();  // the settler file read is still the 1654-byte one
    ASSERT_NE(dialog, (HWND)NULL);
    ExpectNoReplacementsLeft();
    ExpectUntouched();
    PressButton(dialog, IDC_INSTALL);
    Answer(DONE_CAPTION, DONE_TEXT);
    ExpectUpdated();
}

TEST_F(Faults, PressesArrivingTogetherAlwaysRunOneWorker)
{
    const int RUNS = 100;
    for (int run = 0; run < RUNS && !HasFailure(); run++) {
        SCOPED_TRACE(run);
        UseGame(GAME_DIR);
        HWND dialog = OpenInstaller();
        ASSERT_NE(dialog, (HWND)NULL);
        int presses = 2 + run % 2;
        for (int i = 0; i < presses; i++)
            PressButton(dialog, IDC_INSTALL);
        Answer(DONE_CAPTION, DONE_TEXT);
        EXPECT_EQ(LogText(dialog), Welcome(game.dir) + FULL_RUN_LOG);
        ExpectUpdated();
        PressButton(dialog, IDC_CANCEL);
        ASSERT_TRUE(WaitForExit(process, WAIT_MS, NULL));
    }
}

TEST_F(Faults, AThousandFailedAttemptsKeepTheLogInBoundsAndTheWindowAnswering)
{
    RemoveTree(game.dir + LEADER_DIR_WRONG);
    HWND dialog = OpenInstaller();
    ASSERT_NE(dialog, (HWND)NULL);
    HWND install = GetDlgItem(dialog, IDC_INSTALL);
    std::string expected = Welcome(game.dir);
    int attemptsSeen = 0;
    // A press is taken only while no worker runs, so each attempt waits
    // for its worker thread to be gone before the next press.
    int idleThreads = ThreadCount(process.dwProcessId);
    for (int attempt = 0; attempt < 1000; attempt++) {
        DWORD_PTR result;
        ASSERT_TRUE(SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(IDC_INSTALL, BN_CLICKED), (LPARAM)install,
                                        SMTO_NORMAL, 5000, &result))
            << "the window stopped answering at attempt " << attempt;
        DWORD start = GetTickCount();
        while (ThreadCount(process.dwProcessId) > idleThreads) {
            ASSERT_LT(GetTickCount() - start, 5000u) << "attempt " << attempt << " did not end";
            Sleep(1);
        }
        if (expected.size() + strlen(STEP_ONE_FAILED) <= STATUS_CAPACITY - 1) {
            expected += STEP_ONE_FAILED;
            attemptsSeen++;
            ASSERT_EQ(LogText(dialog), expected) << "attempt " << attempt;
        }
    }
    std::string log = LogText(dialog);
    // Whole attempts while they fitted, then the one that was cut short.
    std::string full = expected + STEP_ONE_FAILED + STEP_ONE_FAILED;
    EXPECT_EQ(log.size(), (size_t)STATUS_CAPACITY - 1);
    EXPECT_EQ(log, full.substr(0, STATUS_CAPACITY - 1));
    EXPECT_TRUE(IsButtonEnabled(dialog, IDC_INSTALL));
    printf("1000 failed attempts; %d of them fitted in the log, which holds %u bytes\n", attemptsSeen,
           (unsigned)log.size());
    DWORD exitCode = 1;
    CloseByCloseBox(dialog, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

// Drive T: is a small file system with 1 KiB blocks (see the test command).
class FullDisk : public Faults {
protected:
    void SetUp() override
    {
        Faults::SetUp();
        if (GetDriveTypeA("T:\\") == DRIVE_NO_ROOT_DIR)
            GTEST_SKIP() << "no size-limited drive T: in this prefix";
        UseGame("T:\\Gra");
    }
    void TearDown() override
    {
        Faults::TearDown();
        RemoveTree("T:\\Gra");
    }
    // Fills the drive so that exactly freeBlocks blocks of 1 KiB stay free.
    void FillLeaving(int freeBlocks) { ASSERT_TRUE(FillDriveLeaving("T:\\Gra", freeBlocks * 1024)); }
};

TEST_F(FullDisk, AtStepThreeTheOldSettlerFileStays)
{
    FillLeaving(1);  // the new settler text needs two blocks
    HWND dialog = OpenInstaller();
    ASSERT_NE(dialog, (HWND)NULL);
    PressButton(dialog, IDC_INSTALL);
    EXPECT_TRUE(WaitForLogEnd(dialog, "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n", WAIT_MS));
    ExpectUntouched();
    ExpectNoReplacementsLeft();
}

TEST_F(FullDisk, AtStepFourTheOldWorkerFileStays)
{
    FillLeaving(2);  // enough for the settler text, one block short for the worker's
    HWND dialog = OpenInstaller();
    ASSERT_NE(dialog, (HWND)NULL);
    PressButton(dialog, IDC_INSTALL);
    EXPECT_TRUE(WaitForLogEnd(dialog, "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... OK\r\nKrok 4... błąd!\r\n",
                              WAIT_MS));
    EXPECT_EQ(File(SETTLER_INI), SETTLER_NEW);
    EXPECT_EQ(File(WORKER_INI), game.workerIni);
    ExpectNoReplacementsLeft();
}

TEST_F(Faults, AFolderWithATrailingBackslashIsUpdated)
{
    ASSERT_TRUE(SetInstallPath(game.dir + "\\"));
    Start();
    Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
    HWND dialog = WaitForDialog(process.dwProcessId, INSTALLER_CAPTION, WAIT_MS);
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_TRUE(WaitForLogEnd(dialog, Welcome(game.dir + "\\"), WAIT_MS));
    PressButton(dialog, IDC_INSTALL);
    Answer(DONE_CAPTION, DONE_TEXT);
    ExpectUpdated();
}

TEST_F(Faults, AFolderThatDoesNotExistCountsAsUpdated)
{
    ASSERT_TRUE(SetInstallPath("C:\\Gry\\Brak"));
    Start();
    Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
    Answer(CHECKS_CAPTION, ALREADY_TEXT);
    ExpectEndWithoutWindow();
}

// One entry of the drive as seen by the Win32 API.
struct Entry {
    bool folder;
    ULONGLONG size;
    FILETIME written;
    bool operator!=(const Entry &o) const
    {
        return folder != o.folder || size != o.size || CompareFileTime(&written, &o.written) != 0;
    }
};

void Snapshot(const std::string &dir, std::map<std::string, Entry> &out)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = dir + "\\" + name;
        bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        Entry e = { folder, ((ULONGLONG)found.nFileSizeHigh << 32) | found.nFileSizeLow,
                    folder ? FILETIME() : found.ftLastWriteTime };
        out[path] = e;
        if (folder && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            Snapshot(path, out);
    } while (FindNextFileA(h, &found));
    FindClose(h);
}

TEST_F(Faults, ARunChangesOnlyTheFourNamesAndTwoFilesOfTheGame)
{
    std::map<std::string, Entry> before, after;
    Snapshot("C:", before);
    HWND dialog = OpenInstaller();
    ASSERT_NE(dialog, (HWND)NULL);
    PressButton(dialog, IDC_INSTALL);
    Answer(DONE_CAPTION, DONE_TEXT);
    PressButton(dialog, IDC_CANCEL);
    ASSERT_TRUE(WaitForExit(process, WAIT_MS, NULL));
    Snapshot("C:", after);

    std::set<std::string> changed;
    for (auto &b : before)
        if (!after.count(b.first))
            changed.insert("- " + b.first);
        else if (after[b.first] != b.second)
            changed.insert("* " + b.first);
    for (auto &a : after)
        if (!before.count(a.first))
            changed.insert("+ " + a.first);

    std::string g = "C:\\Gry\\Valtheria III";
    std::set<std::string> expected = {
        "- " + g + LEADER_DIR_WRONG,
        "- " + g + LEADER_DIR_WRONG + LEADER_INI_WRONG,
        "+ " + g + LEADER_DIR_RIGHT,
        "+ " + g + LEADER_DIR_RIGHT + LEADER_INI_RIGHT,
        "- " + g + ARMY_DIR_WRONG,
        "- " + g + ARMY_DIR_WRONG + ARMY_INI_WRONG,
        "+ " + g + ARMY_DIR_RIGHT,
        "+ " + g + ARMY_DIR_RIGHT + ARMY_INI_RIGHT,
        "* " + g + SETTLER_INI,
        "* " + g + WORKER_INI,
    };
    EXPECT_EQ(changed, expected);
}

}  // namespace
