// Two copies of the program on one game, as a player's second double click
// on a slow PC starts them, on the NT and the 9x road, with the game files
// watched throughout; and a replacement that another program cuts short
// while a run is held.
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

// Looks at the game files by their sizes from a thread of its own, until
// ended. At every look each must be whole, old or new: a renamed INI in one
// of its places (looked at in the order it moves through them, so that a
// move between two looks cannot hide it), the settler and worker files
// under their names or, on the 9x road, gone for a moment with their whole
// replacement beside them (looked at again after it, which may have just
// taken the name). found: the first look that was not so.
struct Watch {
    const SampleGame &game;
    std::string found;
    volatile LONG stop = 0;
    int looks = 0;
    HANDLE thread = CreateThread(NULL, 0, Run, this, 0, NULL);

    std::string Look()
    {
        for (int unit = 0; unit < 2; unit++) {
            bool seen = false;
            for (int i = 0; i < 3; i++)
                seen = seen || SizeOf(game.dir + IniPlace(unit, i)) == (long long)(unit ? game.armyIni : game.leaderIni).size();
            if (!seen)
                return IniPlace(unit, 2) + " lost";
        }
        for (const char *suffix : { SETTLER_INI, WORKER_INI }) {
            long long before = (long long)(suffix == SETTLER_INI ? game.settlerIni : game.workerIni).size();
            long long after = suffix == SETTLER_INI ? SETTLER_INI_LENGTH : WORKER_INI_LENGTH;
            std::string path = game.dir + suffix;
            auto whole = [&] { return SizeOf(path) == before || SizeOf(path) == after; };
            if (!whole() && SizeOf(path + TMP) != after && !whole())
                return std::string(suffix) + " lost or torn: " + std::to_string(SizeOf(path)) + " bytes";
        }
        return "";
    }
    static DWORD WINAPI Run(LPVOID self)
    {
        for (Watch *w = (Watch *)self; !w->stop && w->found.empty(); w->looks++, Sleep(1))
            w->found = w->Look();
        return 0;
    }
    std::string End()
    {
        stop = 1;
        WaitForSingleObject(thread, INFINITE);
        return found;
    }
    ~Watch() { End(), CloseHandle(thread); }
};

// Stops, or lets go on, every thread of a copy but its window's: its run
// stands still wherever it is, as on a PC too busy to give it a turn.
void Freeze(const PROCESS_INFORMATION &copy, bool frozen)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = { sizeof entry };
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == copy.dwProcessId && entry.th32ThreadID != copy.dwThreadId) {
            HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
            frozen ? SuspendThread(thread) : ResumeThread(thread);
            CloseHandle(thread);
        }
    CloseHandle(snapshot);
}

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
    // Runs a step of the test on the second copy, as if it were the first.
    template <typename Step> void OnSecond(Step step)
    {
        std::swap(process, second);
        step();
        std::swap(process, second);
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
        if (held)
            CloseHandle(held);
        held = NULL;
        Freeze(process, false);
    }
    // A copy's run ends with the completion box, and its log as given.
    void ExpectCompleted(HWND dialog, const std::string &log)
    {
        HWND box = WaitForDialog(process.dwProcessId, DONE_CAPTION, WAIT_MS, DONE_TEXT);
        EXPECT_TRUE(box) << "no completion box; the log: " << LogText(dialog);
        if (box)
            CloseMessageBox(box);
        EXPECT_EQ(LogText(dialog), log);
    }
};

// How two copies on one game overlap. The first copy's run is held in step
// 4 (see HoldFirstRunInStepFour) for all but the presses.
enum Overlap {
    PRESSED,              // "Instaluj" pressed in both, gapMs apart
    STARTED_WHILE_HELD,   // the second copy started while the first's run is held
    KILLED_WHILE_WAITING, // the first killed while the second's run waits for it
    NEVER_LETS_GO,        // the first held past the second's wait, then let go
    REPLACEMENT_CUT,      // one copy: another program cuts the settler's replacement short
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
    { "a second start while the first run is held in step 4", STARTED_WHILE_HELD, 0, BOTH_ROADS_NATIVELY },
    { "the first killed while the second waits", KILLED_WHILE_WAITING, 0, BOTH_ROADS_NATIVELY },
    { "the first holding on past the second's wait", NEVER_LETS_GO, 0, NT_ROAD },
    { "the settler's replacement cut short while the run is held in step 4", REPLACEMENT_CUT, 0, BOTH_ROADS },
};

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
            ReportWindows(version);
            UseGame(GAME_DIR);
            EndProcess(second);
            HWND first = OpenInstaller(), other = NULL;
            ASSERT_TRUE(first);
            auto openSecond = [&] { OnSecond([&] { other = OpenInstaller(); }); };
            if (c.overlap != STARTED_WHILE_HELD && c.overlap != REPLACEMENT_CUT)
                openSecond();
            std::string log = Welcome(game.dir), otherLog = log;
            // The second copy's run shows its first step, waiting for its
            // turn, and nothing more for ms.
            auto secondWaits = [&](DWORD ms) {
                PressButton(other, IDC_INSTALL);
                std::string waiting = otherLog + "\r\nKrok 1... ";
                EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return LogText(other) == waiting; })) << LogText(other);
                EXPECT_FALSE(WaitUntil(ms, [&] { return LogText(other) != waiting; })) << LogText(other);
            };
            Watch watch{ game };
            switch (c.overlap) {
            case PRESSED:
                PressButton(first, IDC_INSTALL);
                Spin(c.gapMs);
                PressButton(other, IDC_INSTALL);
                break;
            case STARTED_WHILE_HELD:
                HoldFirstRunInStepFour(first);
                // Its leftovers are not the start's to settle.
                openSecond();
                EXPECT_TRUE(ReplacementsStand());
                LetFirstRunGo();
                ExpectCompleted(first, log + FULL_RUN_LOG);
                PressButton(other, IDC_INSTALL);
                break;
            case KILLED_WHILE_WAITING:
                HoldFirstRunInStepFour(first);
                secondWaits(300);
                EXPECT_TRUE(ReplacementsStand());
                TerminateProcess(process.hProcess, 9);
                EXPECT_TRUE(WaitForExit(process, WAIT_MS));
                LetFirstRunGo();
                break;
            case NEVER_LETS_GO:
                HoldFirstRunInStepFour(first);
                // Well past the slowest run, then its first step fails and
                // leaves the other's replacements alone.
                secondWaits(20000);
                ExpectStopped(other, otherLog += STEP_ONE_FAILED);
                EXPECT_TRUE(ReplacementsStand());
                LetFirstRunGo();
                ExpectCompleted(first, log + FULL_RUN_LOG);
                PressButton(other, IDC_INSTALL);
                break;
            case REPLACEMENT_CUT:
                // The game file gives way only to its whole replacement.
                HoldFirstRunInStepFour(first);
                ASSERT_TRUE(WriteBytes(game.dir + SETTLER_INI + TMP, SETTLER_NEW.substr(0, 800)));
                LetFirstRunGo();
                ExpectStopped(first, log += StoppedAt(4));
                EXPECT_EQ(File(SETTLER_INI), game.settlerIni);
                PressButton(first, IDC_INSTALL);
                break;
            }
            if (c.overlap == PRESSED || c.overlap == REPLACEMENT_CUT)
                ExpectCompleted(first, log + FULL_RUN_LOG);
            if (other)
                OnSecond([&] { ExpectCompleted(other, otherLog + FULL_RUN_LOG); });
            EXPECT_EQ(watch.End(), "") << "after " << watch.looks << " looks";
            if (!WaitForExit(process, 0))
                EXPECT_EQ(CloseByCloseBox(first), 0u);
            if (other)
                OnSecond([&] { EXPECT_EQ(CloseByCloseBox(other), 0u); });
            ExpectCalledUpdated();
            ExpectSteps(4);
        }
}

}  // namespace
