// Faults: runs cut short at many points, presses arriving together, endless
// retries, a replacement left by a kill, and what a run touches on the drive.
#include "harness.h"

#include <tlhelp32.h>
#include <map>
#include <set>

#include "installer/status_log.h"

namespace {

LONGLONG Microseconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000000 / frequency.QuadPart;
}

int ThreadCount(DWORD pid)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 thread = { sizeof thread };
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread))
        count += thread.th32OwnerProcessID == pid;
    CloseHandle(snapshot);
    return count;
}

class Faults : public Updater {
public:
    // Starts the program again after a cut run and lets it finish what it
    // will; returns how far the game is then updated.
    int NextRun()
    {
        Start();
        Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
        HWND dialog = NULL, already = NULL;
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] {
            already = FindDialog(process.dwProcessId, CHECKS_CAPTION);
            return already || (dialog = FindDialog(process.dwProcessId, INSTALLER_CAPTION));
        }));
        if (already) {
            EXPECT_EQ(MessageBoxText(already), ALREADY_TEXT);
            CloseMessageBox(already);
            EXPECT_TRUE(WaitForExit(process, WAIT_MS));
            return StepsOnDisk();
        }
        // The replacements of the cut run are gone before anything is read.
        EXPECT_FALSE(Exists(game.dir + SETTLER_INI + ".tmp") || Exists(game.dir + WORKER_INI + ".tmp"));
        PressButton(dialog, IDC_INSTALL);
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] {
            return FindDialog(process.dwProcessId, DONE_CAPTION) || LogText(dialog).find("błąd!") != std::string::npos;
        }));
        EXPECT_EQ(CloseByCloseBox(dialog), 0u);
        return StepsOnDisk();
    }
};

TEST_F(Faults, ARunCutShortAtAnyPointLeavesEveryFileWhole)
{
    // How long the steps take here, from the press to the last file written
    // (watched on disk by its size, as asking the window would slow the run):
    // the shortest of three runs.
    LONGLONG span = 0;
    for (int run = 0; run < 3; run++) {
        UseGame(GAME_DIR);
        HWND dialog = OpenInstaller();
        ASSERT_TRUE(dialog);
        LONGLONG pressed = Microseconds();
        PressButton(dialog, IDC_INSTALL);
        WIN32_FILE_ATTRIBUTE_DATA worker = {};
        while (!GetFileAttributesExA((game.dir + WORKER_INI).c_str(), GetFileExInfoStandard, &worker) ||
               worker.nFileSizeLow != WORKER_INI_LENGTH)
            ASSERT_LT(Microseconds() - pressed, (LONGLONG)WAIT_MS * 1000);
        LONGLONG took = (Microseconds() - pressed) * 5 / 4;
        span = run == 0 || took < span ? took : span;
    }

    const int POINTS = 60;
    std::map<int, int> cut, finished;
    for (int point = 0; point < POINTS && !HasFailure(); point++) {
        bool kill = point % 2 == 1;
        LONGLONG delay = span * (point / 2) / (POINTS / 2 - 1);
        SCOPED_TRACE(testing::Message() << (kill ? "killed " : "closed ") << delay << " us after the press");
        UseGame(GAME_DIR);
        HWND dialog = OpenInstaller();
        ASSERT_TRUE(dialog);
        PressButton(dialog, IDC_INSTALL);
        for (LONGLONG start = Microseconds(); Microseconds() - start < delay;) {
        }
        if (kill) {
            TerminateProcess(process.hProcess, 9);
            ASSERT_TRUE(WaitForExit(process, WAIT_MS));
        } else
            EXPECT_EQ(CloseByCloseBox(dialog), 0u) << "the program did not end cleanly";
        cut[StepsOnDisk()]++;
        finished[NextRun()]++;
    }
    printf("Runs cut short at %d points over %lld us; steps done when cut:", POINTS, span);
    for (auto &c : cut)
        printf(" %d: %d", c.first, c.second);
    printf("; after the next start:");
    for (auto &c : finished)
        printf(" %d: %d", c.first, c.second);
    printf("\n");
}

TEST_F(Faults, AReplacementLeftByAKillIsRemovedAndNeverRead)
{
    // A whole new text beside the settler file and a torn one beside the worker's.
    ASSERT_TRUE(WriteBytes(game.dir + SETTLER_INI + ".tmp", SETTLER_NEW));
    ASSERT_TRUE(WriteBytes(game.dir + WORKER_INI + ".tmp", WORKER_NEW.substr(0, 100)));
    HWND dialog = OpenInstaller();
    ASSERT_TRUE(dialog);
    ExpectSteps(0);
    PressButton(dialog, IDC_INSTALL);
    Answer(DONE_CAPTION, DONE_TEXT);
    ExpectSteps(4);
}

TEST_F(Faults, PressesArrivingTogetherAlwaysRunOneWorker)
{
    for (int run = 0; run < 100 && !HasFailure(); run++) {
        SCOPED_TRACE(run);
        UseGame(GAME_DIR);
        HWND dialog = OpenInstaller();
        ASSERT_TRUE(dialog);
        for (int i = 0; i < 2 + run % 2; i++)
            PressButton(dialog, IDC_INSTALL);
        Answer(DONE_CAPTION, DONE_TEXT);
        EXPECT_EQ(LogText(dialog), Welcome(game.dir) + FULL_RUN_LOG);
        ExpectSteps(4);
        PressButton(dialog, IDC_CANCEL);
        ASSERT_TRUE(WaitForExit(process, WAIT_MS));
    }
}

TEST_F(Faults, AThousandFailedAttemptsKeepTheLogInBoundsAndTheWindowAnswering)
{
    RemoveTree(game.dir + LEADER_DIR_WRONG);
    HWND dialog = OpenInstaller();
    ASSERT_TRUE(dialog);
    std::string expected = Welcome(game.dir);
    // A press is taken only while no worker runs, so each attempt waits for
    // its worker thread to be gone.
    int idleThreads = ThreadCount(process.dwProcessId);
    for (int attempt = 0; attempt < 1000; attempt++) {
        SCOPED_TRACE(attempt);
        ASSERT_TRUE(SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(IDC_INSTALL, BN_CLICKED),
                                        (LPARAM)GetDlgItem(dialog, IDC_INSTALL), SMTO_NORMAL, 5000, NULL))
            << "the window stopped answering";
        ASSERT_TRUE(WaitUntil(5000, [&] { return ThreadCount(process.dwProcessId) == idleThreads; }));
        expected += STEP_ONE_FAILED;
        if (expected.size() < STATUS_CAPACITY)
            ASSERT_EQ(LogText(dialog), expected);
    }
    // Whole attempts while they fitted, then the one that was cut short.
    EXPECT_EQ(LogText(dialog), expected.substr(0, STATUS_CAPACITY - 1));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_INSTALL)));
    EXPECT_EQ(CloseByCloseBox(dialog), 0u);
}

// Every entry of the drive: its size and time of writing, "dir" for folders.
void Snapshot(const std::string &dir, std::map<std::string, std::string> &out)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found)) {
        std::string name = found.cFileName, path = dir + "\\" + name;
        if (name == "." || name == "..")
            continue;
        bool folder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        out[path] = folder ? "dir" : testing::PrintToString(found.nFileSizeLow) + " " +
                                         testing::PrintToString(found.ftLastWriteTime.dwLowDateTime);
        if (folder && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            Snapshot(path, out);
    }
    FindClose(h);
}

TEST_F(Faults, ARunChangesOnlyTheFourNamesAndTwoFilesOfTheGame)
{
    std::map<std::string, std::string> before, after;
    Snapshot("C:", before);
    HWND dialog = OpenInstaller();
    ASSERT_TRUE(dialog);
    PressButton(dialog, IDC_INSTALL);
    Answer(DONE_CAPTION, DONE_TEXT);
    PressButton(dialog, IDC_CANCEL);
    ASSERT_TRUE(WaitForExit(process, WAIT_MS));
    Snapshot("C:", after);

    std::set<std::string> changed;
    for (auto &b : before)
        if (!after.count(b.first) || after[b.first] != b.second)
            changed.insert((after.count(b.first) ? "* " : "- ") + b.first);
    for (auto &a : after)
        if (!before.count(a.first))
            changed.insert("+ " + a.first);
    std::string g = GAME_DIR;
    EXPECT_EQ(changed, (std::set<std::string>{
                           "- " + g + LEADER_DIR_WRONG, "- " + g + LEADER_DIR_WRONG + LEADER_INI_WRONG,
                           "+ " + g + LEADER_DIR_RIGHT, "+ " + g + LEADER_DIR_RIGHT + LEADER_INI_RIGHT,
                           "- " + g + ARMY_DIR_WRONG, "- " + g + ARMY_DIR_WRONG + ARMY_INI_WRONG,
                           "+ " + g + ARMY_DIR_RIGHT, "+ " + g + ARMY_DIR_RIGHT + ARMY_INI_RIGHT,
                           "* " + g + SETTLER_INI, "* " + g + WORKER_INI }));
}

}  // namespace
