// Two copies of the program on one game, as a second double click starts
// them, on both roads, the game files watched throughout.
#include "harness.h"

namespace {

// A file's size, looked up without opening it; -1 when it is not there.
long long SizeOf(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? (long long)data.nFileSizeLow : -1;
}

// Looks at the game files' sizes from a thread of its own; at every look
// each must be whole, old or new: a renamed INI in one of its places (in
// the order it moves through them), the settler and worker files under
// their names or, on 9x, gone a moment with their whole replacement beside
// (looked at again after it). found: the first look that was not so.
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
    // Ends the watch, and says what it found.
    std::string End()
    {
        stop = 1;
        WaitForSingleObject(thread, INFINITE);
        return found;
    }
    ~Watch() { End(), CloseHandle(thread); }
};

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
    // The first copy's run frozen in step 4, the worker file held by
    // another program, both replacements written.
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
    // The second copy's run waits for its turn at step 1 for ms at least.
    void SecondWaits(DWORD ms)
    {
        PressButton(other, IDC_INSTALL);
        std::string waiting = otherLog + "\r\nKrok 1... ";
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return LogText(other) == waiting; })) << LogText(other);
        EXPECT_FALSE(WaitUntil(ms, [&] { return LogText(other) != waiting; })) << LogText(other);
    }
};

// How two copies overlap, from the windows open to the last press. The
// emulated PC, where a start takes seconds, keeps on 9x the rows where its
// road differs, and only the presses at once (a few ms apart is at once).
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
          t.OnSecond([&] { t.other = t.OpenInstaller(); });
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
          t.ExpectStopped(t.other, t.otherLog += StoppedAt(1));
          EXPECT_TRUE(t.ReplacementsStand());
          t.LetFirstRunGo();
          t.ExpectCompleted(t.first, t.log);
          t.firstToComplete = false;
          PressButton(t.other, IDC_INSTALL);
      } },
    // The run holds the settler's replacement: no other program cuts it short.
    { "the settler's replacement written to by another program while the run is held in step 4", false, false,
      BOTH_ROADS, [](Copies &t) {
          t.HoldFirstRunInStepFour();
          EXPECT_FALSE(WriteBytes(t.game.dir + SETTLER_INI + TMP, SETTLER_NEW.substr(0, 800)));
          t.LetFirstRunGo();
      } },
};

// After each: no file lost or torn at any look, every copy's run (but one
// killed) completed, and the game updated, byte for byte.
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
                OnSecond([&] { other = OpenInstaller(); });
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
