// Faults: runs cut short at many points on both roads, presses arriving
// together, and what a run touches on the drive.
#include "harness.h"

namespace {

LONGLONG Microseconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000000 / frequency.QuadPart;
}

// Where a cut landed, read off the disk before the next start: before the
// first step, inside step 1 or 2 (the folder renamed, its INI not), inside
// step 3 or 4 (a replacement beside its file), between a replacement's
// write and its taking the file's name (a whole one left, the game file
// beside it or, on 9x, gone), after the last step; or between two steps.
enum Phase { BEFORE, IN_STEP_1, IN_STEP_2, IN_STEP_3, IN_STEP_4, WRITTEN_NOT_PLACED, AFTER, BETWEEN_STEPS };
const char *const PHASE_NAMES[] = { "before the first step", "inside step 1", "inside step 2", "inside step 3",
                                    "inside step 4", "between a write and its taking the name",
                                    "after the last step", "between steps" };

class Faults : public Updater {
public:
    void Landed(std::map<int, int> &phases)
    {
        bool leaderMoved = Exists(game.dir + LEADER_DIR_RIGHT), armyMoved = Exists(game.dir + ARMY_DIR_RIGHT);
        std::string settlerLeft = File(SETTLER_INI + std::string(".tmp"));
        std::string workerLeft = File(WORKER_INI + std::string(".tmp"));
        if (!leaderMoved)
            phases[BEFORE]++;
        else if (!Exists(game.dir + LEADER_DIR_RIGHT + LEADER_INI_RIGHT))
            phases[IN_STEP_1]++;
        else if (armyMoved && !Exists(game.dir + ARMY_DIR_RIGHT + ARMY_INI_RIGHT))
            phases[IN_STEP_2]++;
        else if (settlerLeft != "<missing>" || workerLeft != "<missing>") {
            bool settler = settlerLeft != "<missing>";
            phases[settler ? IN_STEP_3 : IN_STEP_4]++;
            if (settler ? settlerLeft == SETTLER_NEW : workerLeft == WORKER_NEW)
                phases[WRITTEN_NOT_PLACED]++;
        } else
            phases[File(WORKER_INI) == WORKER_NEW ? AFTER : BETWEEN_STEPS]++;
    }

    // Starts the program again after a cut run and lets it finish what it
    // will; returns how far the game is then updated. Its verdict must
    // match the settler file, and no replacement may be left.
    int NextRun()
    {
        Start();
        Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
        HWND dialog = NULL, already = NULL;
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] {
            already = FindDialog(process.dwProcessId, CHECKS_CAPTION);
            return already || (dialog = FindDialog(process.dwProcessId, INSTALLER_CAPTION));
        }));
        EXPECT_EQ(File(SETTLER_INI) == SETTLER_NEW, already != NULL) << "the verdict at the next start";
        EXPECT_FALSE(Exists(game.dir + SETTLER_INI + ".tmp") || Exists(game.dir + WORKER_INI + ".tmp"));
        if (already) {
            EXPECT_EQ(MessageBoxText(already), ALREADY_TEXT);
            CloseMessageBox(already);
            EXPECT_TRUE(WaitForExit(process, WAIT_MS));
            return StepsOnDisk();
        }
        PressButton(dialog, IDC_INSTALL);
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] {
            return FindDialog(process.dwProcessId, DONE_CAPTION) || LogText(dialog).find("błąd!") != std::string::npos;
        }));
        EXPECT_EQ(CloseByCloseBox(dialog), 0u);
        return StepsOnDisk();
    }

    // Ends the run at once: by the close box, or by killing the process.
    void Cut(HWND dialog, bool kill)
    {
        if (kill) {
            TerminateProcess(process.hProcess, 9);
            ASSERT_TRUE(WaitForExit(process, WAIT_MS));
        } else
            EXPECT_EQ(CloseByCloseBox(dialog), 0u) << "the program did not end cleanly";
    }
};

// A file another program holds (others may read and write it, not rename
// or remove it) keeps the worker waiting inside a step: the INI of step 1
// or 2 after its folder's rename, the file of step 3 or 4 after its
// replacement's write. The log names the step, and the disk shows it: the
// renamed folder, or the whole replacement.
struct HeldCut {
    const char *held, *inside, *step, *moved;
    const std::string *replacement;
} const HELD_CUTS[] = {
    { LEADER_DIR_WRONG, LEADER_INI_WRONG, "Krok 1... ", LEADER_DIR_RIGHT, NULL },
    { ARMY_DIR_WRONG, ARMY_INI_WRONG, "Krok 2... ", ARMY_DIR_RIGHT, NULL },
    { SETTLER_INI, "", "Krok 3... ", NULL, &SETTLER_NEW }, { WORKER_INI, "", "Krok 4... ", NULL, &WORKER_NEW },
};

TEST_F(Faults, ARunCutShortAtAnyPointLeavesEveryFileWholeOnBothRoads)
{
    for (const char *version : { (const char *)NULL, "win98" }) {
        SCOPED_TRACE(version ? version : "Windows NT");
        ReportWindows(version);
        std::map<int, int> phases, finished;
        for (const HeldCut &h : HELD_CUTS) {
            SCOPED_TRACE(h.step);
            UseGame(GAME_DIR);
            HWND dialog = OpenInstaller();
            ASSERT_TRUE(dialog);
            HANDLE held = CreateFileA((game.dir + h.held + h.inside).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
            PressButton(dialog, IDC_INSTALL);
            EXPECT_TRUE(WaitUntil(WAIT_MS, [&] {
                std::string log = LogText(dialog);
                return log.size() > strlen(h.step) && log.compare(log.size() - strlen(h.step), strlen(h.step), h.step) == 0 &&
                       (h.moved ? Exists(game.dir + h.moved) : File(h.held + std::string(".tmp")) == *h.replacement);
            })) << LogText(dialog);
            Cut(dialog, h.step[5] % 2 == 0);
            CloseHandle(held);
            Landed(phases);
            finished[NextRun()]++;
        }

        // How long the steps take here, from the press to the last file
        // written (watched on disk by its size, as asking the window would
        // slow the run): the longest of three runs, so that the last cuts
        // land after the last step.
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
            span = took > span ? took : span;
        }
        const int POINTS = 30;
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
            Cut(dialog, kill);
            Landed(phases);
            finished[NextRun()]++;
        }

        printf("%s: runs cut short at %d timed points over %lld us and %d held ones; cuts landed:", version ? version : "NT",
               POINTS, span, (int)(sizeof HELD_CUTS / sizeof HELD_CUTS[0]));
        for (auto &p : phases)
            printf(" %s: %d;", PHASE_NAMES[p.first], p.second);
        printf(" steps done after the next start:");
        for (auto &f : finished)
            printf(" %d: %d", f.first, f.second);
        printf("\n");
        for (int phase = BEFORE; phase <= AFTER; phase++)
            EXPECT_GT(phases[phase], 0) << "no cut landed " << PHASE_NAMES[phase];
    }
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

TEST_F(Faults, ARunChangesOnlyTheFourNamesAndTwoFilesOfTheGame)
{
    std::map<std::string, std::string> before, after;
    Snapshot("C:", before, false);
    HWND dialog = OpenInstaller();
    ASSERT_TRUE(dialog);
    PressButton(dialog, IDC_INSTALL);
    Answer(DONE_CAPTION, DONE_TEXT);
    PressButton(dialog, IDC_CANCEL);
    ASSERT_TRUE(WaitForExit(process, WAIT_MS));
    Snapshot("C:", after, false);

    std::string g = GAME_DIR;
    EXPECT_EQ(Changes(before, after), (std::set<std::string>{
                           "- " + g + LEADER_DIR_WRONG, "- " + g + LEADER_DIR_WRONG + LEADER_INI_WRONG,
                           "+ " + g + LEADER_DIR_RIGHT, "+ " + g + LEADER_DIR_RIGHT + LEADER_INI_RIGHT,
                           "- " + g + ARMY_DIR_WRONG, "- " + g + ARMY_DIR_WRONG + ARMY_INI_WRONG,
                           "+ " + g + ARMY_DIR_RIGHT, "+ " + g + ARMY_DIR_RIGHT + ARMY_INI_RIGHT,
                           "* " + g + SETTLER_INI, "* " + g + WORKER_INI }));
}

}  // namespace
