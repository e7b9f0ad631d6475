// Two copies of the program on one game, as a player's second double click
// on a slow PC starts them, on the NT and the 9x road, with the game files
// watched throughout; and a replacement that another program removes while
// a run is held.
#include "harness.h"

#include <tlhelp32.h>

namespace {

// A file's size, looked up without opening it, so as not to stand in the
// way of the copies watched; -1 when it is not there.
long long SizeOf(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? (long long)data.nFileSizeLow : -1;
}

// Looks at the game files over and over from a thread of its own. At every
// look each must be whole, with its old or its new size: a renamed INI in
// one of its places (looked at in the order it moves through them, so that
// a move between two looks cannot hide it), the settler and worker files
// under their names or, on the 9x road, gone for a moment with their whole
// replacement beside them (looked at again after it, which may have just
// taken the name).
class Watch {
    const SampleGame &game;
    volatile LONG stop = 0;
    HANDLE thread;

    std::string Look()
    {
        for (int unit = 0; unit < 2; unit++) {
            std::string dirWrong = unit ? ARMY_DIR_WRONG : LEADER_DIR_WRONG, dirRight = unit ? ARMY_DIR_RIGHT : LEADER_DIR_RIGHT;
            std::string iniWrong = unit ? ARMY_INI_WRONG : LEADER_INI_WRONG, iniRight = unit ? ARMY_INI_RIGHT : LEADER_INI_RIGHT;
            long long size = (long long)(unit ? game.armyIni : game.leaderIni).size();
            bool seen = false;
            for (const std::string &place : { dirWrong + iniWrong, dirRight + iniWrong, dirRight + iniRight })
                seen = seen || SizeOf(game.dir + place) == size;
            if (!seen)
                return dirRight + iniRight + " lost";
        }
        struct Rewritten {
            const char *suffix;
            size_t before, after;
        } const rewritten[] = { { SETTLER_INI, game.settlerIni.size(), SETTLER_INI_LENGTH },
                                { WORKER_INI, game.workerIni.size(), WORKER_INI_LENGTH } };
        for (const Rewritten &r : rewritten) {
            std::string path = game.dir + r.suffix;
            auto whole = [&] { return SizeOf(path) == (long long)r.before || SizeOf(path) == (long long)r.after; };
            if (!whole() && SizeOf(path + ".tmp") != (long long)r.after && !whole())
                return std::string(r.suffix) + " lost or torn: " + std::to_string(SizeOf(path)) + " bytes";
        }
        return "";
    }
    static DWORD WINAPI Run(LPVOID self)
    {
        Watch *watch = (Watch *)self;
        while (!watch->stop && watch->found.empty()) {
            watch->found = watch->Look();
            watch->looks++;
            Sleep(1);
        }
        return 0;
    }

public:
    std::string found;  // the first look that found a file lost or torn
    int looks = 0;
    explicit Watch(const SampleGame &game) : game(game), thread(CreateThread(NULL, 0, Run, this, 0, NULL)) {}
    ~Watch() { End(); }
    // Ends the watch, and says what it found.
    std::string End()
    {
        if (thread) {
            stop = 1;
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            thread = NULL;
        }
        return found;
    }
};

// Stops, or lets go on, every thread of a copy but its window's: its run
// stands still wherever it is, as on a PC too busy to give it a turn.
void Freeze(const PROCESS_INFORMATION &copy, bool frozen)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = { sizeof entry };
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != copy.dwProcessId || entry.th32ThreadID == copy.dwThreadId)
            continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        frozen ? SuspendThread(thread) : ResumeThread(thread);
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
}

const std::string TMP = ".tmp";

class Copies : public Updater {
public:
    PROCESS_INFORMATION second = {};  // the second copy; process is the first
    HANDLE held = NULL;

    void TearDown() override
    {
        if (held)
            CloseHandle(held);
        EndProcess(second);
        Updater::TearDown();
    }
    HWND OpenSecond()
    {
        std::swap(process, second);
        HWND dialog = OpenInstaller();
        std::swap(process, second);
        return dialog;
    }
    // The first copy's run held inside step 4 and frozen there: the worker
    // file held by another program, the settler's and the worker's
    // replacements written beside their files.
    void HoldFirstRunInStepFour(HWND dialog)
    {
        held = CreateFileA((game.dir + WORKER_INI).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        PressButton(dialog, IDC_INSTALL);
        ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return ReplacementsStand(); })) << LogText(dialog);
        Freeze(process, true);
    }
    bool ReplacementsStand() { return File(SETTLER_INI + TMP) == SETTLER_NEW && File(WORKER_INI + TMP) == WORKER_NEW; }
    void LetFirstRunGo()
    {
        CloseHandle(held);
        held = NULL;
        Freeze(process, false);
    }
    // A copy's run ends with the completion box, and its log as given.
    void ExpectCompleted(const PROCESS_INFORMATION &copy, HWND dialog, const std::string &log)
    {
        HWND box = WaitForDialog(copy.dwProcessId, DONE_CAPTION, WAIT_MS, DONE_TEXT);
        EXPECT_TRUE(box) << "no completion box; the log: " << LogText(dialog);
        if (box)
            CloseMessageBox(box);
        EXPECT_EQ(LogText(dialog), log);
    }
    // A run ends at a failed step: its log as given, "Instaluj" enabled.
    void ExpectStopped(HWND dialog, const std::string &log)
    {
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] {
            return LogText(dialog) == log && IsWindowEnabled(GetDlgItem(dialog, IDC_INSTALL));
        })) << LogText(dialog);
    }
    // The second copy's run shows its first step, waiting for its turn,
    // and nothing more for ms.
    void ExpectSecondWaiting(HWND dialog, const std::string &log, DWORD ms)
    {
        std::string waiting = log + "\r\nKrok 1... ";
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return LogText(dialog) == waiting; })) << LogText(dialog);
        EXPECT_FALSE(WaitUntil(ms, [&] { return LogText(dialog) != waiting; })) << LogText(dialog);
    }
};

// How two copies on one game overlap. The first copy's run is held in step
// 4 (see HoldFirstRunInStepFour) for all but the presses.
enum Overlap {
    PRESSED,              // "Instaluj" pressed in both, gapMs apart
    STARTED_WHILE_HELD,   // the second copy started while the first's run is held
    KILLED_WHILE_WAITING, // the first killed while the second's run waits for it
    NEVER_LETS_GO,        // the first held past the second's wait, then let go
    REPLACEMENT_REMOVED,  // one copy: another program removes the settler's replacement
};
// Where a row runs. In the emulated PC, where each start takes seconds, the
// 9x road keeps the rows where it differs from NT's (its game file gives
// way before the replacement takes the name), and a few ms apart is at
// once, so only the presses at once are made.
enum Roads { BOTH_ROADS, NT_ROAD, BOTH_ROADS_NATIVELY };
struct OverlapCase {
    const char *name;
    Overlap overlap;
    int gapMs;
    Roads roads;
} const OVERLAP_CASES[] = {
    { "pressed in both at once", PRESSED, 0, BOTH_ROADS },
    { "pressed 3 ms apart", PRESSED, 3, BOTH_ROADS },
    { "pressed 20 ms apart", PRESSED, 20, BOTH_ROADS },
    { "a second start while the first run is held in step 4", STARTED_WHILE_HELD, 0, BOTH_ROADS_NATIVELY },
    { "the first killed while the second waits", KILLED_WHILE_WAITING, 0, BOTH_ROADS_NATIVELY },
    { "the first holding on past the second's wait", NEVER_LETS_GO, 0, NT_ROAD },
    { "the settler's replacement removed while the run is held in step 4", REPLACEMENT_REMOVED, 0, BOTH_ROADS },
};

int Failures()
{
    return testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// After each: no game file was lost or torn at any look, every copy that
// ran (but one killed) ended with the completion box, and the next start
// calls the game updated, byte for byte, with nothing left beside its files.
TEST_F(Copies, TwoCopiesOnOneGameBothEndWithTheUpdateDoneAndNeverLoseAFile)
{
    for (const char *version : { (const char *)NULL, "win98" })
        for (const OverlapCase &c : OVERLAP_CASES) {
            bool nativeOnly = c.gapMs || (version && c.roads == BOTH_ROADS_NATIVELY);
            if ((version && c.roads == NT_ROAD) || (nativeOnly && RunsEmulated()))
                continue;
            SCOPED_TRACE(testing::Message() << (version ? version : "Windows NT") << ": " << c.name);
            int failuresBefore = Failures();
            ReportWindows(version);
            UseGame(GAME_DIR);
            EndProcess(second);
            HWND first = OpenInstaller(), other = NULL;
            ASSERT_TRUE(first);
            if (c.overlap != STARTED_WHILE_HELD && c.overlap != REPLACEMENT_REMOVED)
                ASSERT_TRUE(other = OpenSecond());
            std::string log = Welcome(game.dir), otherLog = log;
            Watch watch(game);
            switch (c.overlap) {
            case PRESSED:
                PressButton(first, IDC_INSTALL);
                for (LONGLONG start = Microseconds(); Microseconds() - start < c.gapMs * 1000;) {
                }
                PressButton(other, IDC_INSTALL);
                ExpectCompleted(process, first, log + FULL_RUN_LOG);
                break;
            case STARTED_WHILE_HELD:
                HoldFirstRunInStepFour(first);
                // Its leftovers are not the start's to settle.
                ASSERT_TRUE(other = OpenSecond());
                EXPECT_TRUE(ReplacementsStand());
                LetFirstRunGo();
                ExpectCompleted(process, first, log + FULL_RUN_LOG);
                PressButton(other, IDC_INSTALL);
                break;
            case KILLED_WHILE_WAITING:
                HoldFirstRunInStepFour(first);
                PressButton(other, IDC_INSTALL);
                ExpectSecondWaiting(other, otherLog, 300);
                EXPECT_TRUE(ReplacementsStand());
                TerminateProcess(process.hProcess, 9);
                EXPECT_TRUE(WaitForExit(process, WAIT_MS));
                CloseHandle(held);
                held = NULL;
                break;
            case NEVER_LETS_GO:
                HoldFirstRunInStepFour(first);
                PressButton(other, IDC_INSTALL);
                // Well past the slowest run, then its first step fails and
                // leaves the other's replacements alone.
                ExpectSecondWaiting(other, otherLog, 20000);
                otherLog += STEP_ONE_FAILED;
                ExpectStopped(other, otherLog);
                EXPECT_TRUE(ReplacementsStand());
                LetFirstRunGo();
                ExpectCompleted(process, first, log + FULL_RUN_LOG);
                PressButton(other, IDC_INSTALL);
                break;
            case REPLACEMENT_REMOVED:
                HoldFirstRunInStepFour(first);
                EXPECT_TRUE(DeleteFileA((game.dir + SETTLER_INI + TMP).c_str()));
                LetFirstRunGo();
                log += "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... OK\r\nKrok 4... błąd!\r\n";
                ExpectStopped(first, log);
                EXPECT_EQ(File(SETTLER_INI), game.settlerIni);
                PressButton(first, IDC_INSTALL);
                ExpectCompleted(process, first, log + FULL_RUN_LOG);
                break;
            }
            if (other)
                ExpectCompleted(second, other, otherLog + FULL_RUN_LOG);
            EXPECT_EQ(watch.End(), "") << "after " << watch.looks << " looks";
            if (!WaitForExit(process, 0))
                EXPECT_EQ(CloseByCloseBox(first), 0u);
            if (other) {
                std::swap(process, second);
                EXPECT_EQ(CloseByCloseBox(other), 0u);
                std::swap(process, second);
            }

            Start();
            Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
            HWND verdict = NULL;
            EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return (verdict = FindDialog(process.dwProcessId, NULL)) != NULL; }));
            EXPECT_EQ(WindowText(verdict), CHECKS_CAPTION) << "not called updated";
            EXPECT_EQ(MessageBoxText(verdict), ALREADY_TEXT);
            EndProcess(process);
            ExpectSteps(4);
            printf("%s, %s: %s\n", version ? version : "NT", c.name, Failures() > failuresBefore ? "FAILED" : "passed");
        }
}

}  // namespace
