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
    HWND first = NULL, other = NULL;  // their windows
    bool firstToComplete = true;      // the first's completion box still to come
    std::string log, otherLog;        // their logs as they must end, but for the whole run's
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
    void OpenSecond()
    {
        OnSecond([&] { other = OpenInstaller(); });
    }
    // The first copy's run held inside step 4 and frozen there: the worker
    // file held by another program, the settler's and the worker's
    // replacements written beside their files.
    void HoldFirstRunInStepFour()
    {
        held = CreateFileA((game.dir + WORKER_INI).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        PressButton(first, IDC_INSTALL);
        ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return ReplacementsStand(); })) << LogText(first);
        Freeze(process, true);
    }
    bool ReplacementsStand() { return File(SETTLER_INI + TMP) == SETTLER_NEW && File(WORKER_INI + TMP) == WORKER_NEW; }
    void LetFirstRunGo()
    {
        CloseHandle(held);
        held = NULL;
        Freeze(process, false);
    }
    // The second copy's run shows its first step, waiting for its turn,
    // and nothing more for ms.
    void SecondWaits(DWORD ms)
    {
        PressButton(other, IDC_INSTALL);
        std::string waiting = otherLog + "\r\nKrok 1... ";
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return LogText(other) == waiting; })) << LogText(other);
        EXPECT_FALSE(WaitUntil(ms, [&] { return LogText(other) != waiting; })) << LogText(other);
    }
    // A copy's run ends with the completion box, and its log as given.
    void ExpectCompleted(HWND dialog, const std::string &logBefore)
    {
        Answer(DONE_CAPTION, DONE_TEXT);
        EXPECT_EQ(LogText(dialog), logBefore + FULL_RUN_LOG);
    }
};

// How two copies on one game overlap, from both windows open (but where
// the second starts later, or not at all) to the last run's press; the
// first copy's run is held in step 4 (see HoldFirstRunInStepFour) in all
// but the presses. In the emulated PC, where each start takes seconds, the
// 9x road keeps the rows where it differs from NT's (its game file gives
// way before the replacement takes the name), and a few ms apart is at
// once, so only the presses at once are made.
enum Roads { BOTH_ROADS, NT_ROAD, BOTH_ROADS_NATIVELY };
struct OverlapCase {
    const char *name;
    bool secondOpen, nativeOnly;
    Roads roads;
    void (*overlap)(Copies &);
} const OVERLAP_CASES[] = {
    { "pressed in both at once", true, false, BOTH_ROADS,
      [](Copies &t) { PressButton(t.first, IDC_INSTALL), PressButton(t.other, IDC_INSTALL); } },
    { "pressed 3 ms apart", true, true, BOTH_ROADS,
      [](Copies &t) { PressButton(t.first, IDC_INSTALL), Spin(3), PressButton(t.other, IDC_INSTALL); } },
    { "a second start while the first run is held in step 4", false, false, BOTH_ROADS_NATIVELY,
      [](Copies &t) {
          t.HoldFirstRunInStepFour();
          t.OpenSecond();
          EXPECT_TRUE(t.ReplacementsStand()) << "the start settled another run's leftovers";
          t.LetFirstRunGo();
          PressButton(t.other, IDC_INSTALL);
      } },
    { "the first killed while the second waits", true, false, BOTH_ROADS_NATIVELY,
      [](Copies &t) {
          t.HoldFirstRunInStepFour();
          t.SecondWaits(300);
          EXPECT_TRUE(t.ReplacementsStand());
          TerminateProcess(t.process.hProcess, 9);
          EXPECT_TRUE(WaitForExit(t.process, WAIT_MS));
          t.LetFirstRunGo();
          t.firstToComplete = false;
      } },
    // Well past the slowest run, the second's first step fails and leaves
    // the other's replacements alone; pressed again, it finds the work done.
    { "the first holding on past the second's wait", true, false, NT_ROAD,
      [](Copies &t) {
          t.HoldFirstRunInStepFour();
          t.SecondWaits(20000);
          t.ExpectStopped(t.other, t.otherLog += STEP_ONE_FAILED);
          EXPECT_TRUE(t.ReplacementsStand());
          t.LetFirstRunGo();
          t.ExpectCompleted(t.first, t.log);
          t.firstToComplete = false;
          PressButton(t.other, IDC_INSTALL);
      } },
    // The game file gives way only to its whole replacement.
    { "the settler's replacement cut short while the run is held in step 4", false, false, BOTH_ROADS,
      [](Copies &t) {
          t.HoldFirstRunInStepFour();
          ASSERT_TRUE(WriteBytes(t.game.dir + SETTLER_INI + TMP, SETTLER_NEW.substr(0, 800)));
          t.LetFirstRunGo();
          t.ExpectStopped(t.first, t.log += StoppedAt(4));
          EXPECT_EQ(t.File(SETTLER_INI), t.game.settlerIni);
          PressButton(t.first, IDC_INSTALL);
      } },
};

// After each: no game file was lost or torn at any look, every copy that
// ran (but one killed) ended with the completion box, and the next start
// calls the game updated, byte for byte, with nothing left beside its files.
TEST_F(Copies, TwoCopiesOnOneGameBothEndWithTheUpdateDoneAndNeverLoseAFile)
{
    for (const char *version : { (const char *)NULL, "win98" })
        for (const OverlapCase &c : OVERLAP_CASES) {
            bool nativeOnly = c.nativeOnly || (version && c.roads == BOTH_ROADS_NATIVELY);
            if ((version && c.roads == NT_ROAD) || (nativeOnly && RunsEmulated()))
                continue;
            SCOPED_TRACE(testing::Message() << (version ? version : "Windows NT") << ": " << c.name);
            ReportWindows(version);
            UseGame(GAME_DIR);
            EndProcess(second);
            other = NULL;
            firstToComplete = true;
            ASSERT_TRUE(first = OpenInstaller());
            if (c.secondOpen)
                OpenSecond();
            log = otherLog = Welcome(game.dir);
            Watch watch{ game };
            c.overlap(*this);
            if (firstToComplete)
                ExpectCompleted(first, log);
            if (other)
                OnSecond([&] { ExpectCompleted(other, otherLog); });
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
