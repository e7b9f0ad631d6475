// Faults: runs cut short at many points on both roads, and presses
// arriving together.
#include "harness.h"

namespace {

// Where a cut landed, read off the disk before the next start: before the
// first step, inside step 1 or 2 (the folder renamed, its INI not), inside
// step 3 (the settler's replacement beside it), inside step 4 (the
// worker's replacement beside it, or the worker file new and the settler
// not yet), after the last step (the settler new); or between two steps.
// Apart: a whole replacement beside its file, written and not yet placed.
enum Phase { BEFORE, IN_STEP_1, IN_STEP_2, IN_STEP_3, IN_STEP_4, WRITTEN_NOT_PLACED, AFTER, BETWEEN_STEPS };
const char *const PHASE_NAMES[] = { "before the first step", "inside step 1", "inside step 2", "inside step 3",
                                    "inside step 4", "between a write and its taking the name",
                                    "after the last step", "between steps" };

class Faults : public Updater {
public:
    int updatedByNextRun = 0, calledUpdated = 0, stranded = 0;

    void Landed(std::map<int, int> &phases)
    {
        std::string disk = OnDisk(), settler = disk.substr(4, disk.find(' ', 4) - 4), worker = disk.substr(disk.rfind(' ') + 1);
        phases[disk[0] != '2' ? (disk[0] == '1' ? IN_STEP_1 : BEFORE) : disk[2] == '1' ? IN_STEP_2 : disk == Steps(4) ? AFTER
               : worker != "old" ? IN_STEP_4 : settler != "old" ? IN_STEP_3 : BETWEEN_STEPS]++;
        if (File(SETTLER_INI + TMP) == SETTLER_NEW || File(WORKER_INI + TMP) == WORKER_NEW)
            phases[WRITTEN_NOT_PLACED]++;
    }

    // Starts the program again after a cut run: it must either say the
    // game is updated, with every fix on disk, or open its window, where
    // one "Instaluj" finishes the update. Either way the game is then the
    // updated game, byte for byte.
    void NextRun()
    {
        Start();
        Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
        HWND dialog = NULL, already = NULL;
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] {
            already = FindDialog(process.dwProcessId, CHECKS_CAPTION);
            return already || (dialog = FindDialog(process.dwProcessId, INSTALLER_CAPTION));
        }));
        bool done = already != NULL;
        if (already) {
            EXPECT_EQ(MessageBoxText(already), ALREADY_TEXT);
            CloseMessageBox(already);
            EXPECT_TRUE(WaitForExit(process, WAIT_MS));
            calledUpdated++;
        } else {
            PressButton(dialog, IDC_INSTALL);
            EXPECT_TRUE(WaitUntil(WAIT_MS, [&] {
                return FindDialog(process.dwProcessId, DONE_CAPTION) || LogText(dialog).find("błąd!") != std::string::npos;
            }));
            updatedByNextRun += done = FindDialog(process.dwProcessId, DONE_CAPTION) != NULL;
            EXPECT_EQ(CloseByCloseBox(dialog), 0u);
        }
        bool finished = done && OnDisk() == Steps(4);
        EXPECT_TRUE(finished) << "the game is left short of the update: " << OnDisk();
        stranded += !finished;
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

// A file another program holds keeps the worker waiting inside a step,
// and the disk shows where (see OnDisk): the INI of step 1 or 2 after its
// folder's rename; the file of step 3 or 4 after its replacement's write.
// Held so that others may delete it, the settler file lets step 3 pass and
// keeps the worker waiting to put its replacement in place, the worker
// file already new (Windows NT; 9x, which cannot delete an open file,
// stops at step 3).
const DWORD OTHERS_MAY_READ_AND_WRITE = FILE_SHARE_READ | FILE_SHARE_WRITE;
struct HeldCut {
    std::string held;
    const char *step;
    DWORD share;
    const char *shown;
} const HELD_CUTS[] = {
    { std::string(LEADER_DIR_WRONG) + LEADER_INI_WRONG, "Krok 1... ", OTHERS_MAY_READ_AND_WRITE, "1 0 old old" },
    { std::string(ARMY_DIR_WRONG) + ARMY_INI_WRONG, "Krok 2... ", OTHERS_MAY_READ_AND_WRITE, "2 1 old old" },
    { SETTLER_INI, "Krok 3... ", OTHERS_MAY_READ_AND_WRITE, "2 2 old+tmp old" },
    { WORKER_INI, "Krok 4... ", OTHERS_MAY_READ_AND_WRITE, "2 2 old+tmp old+tmp" },
    { SETTLER_INI, "Krok 4... ", OTHERS_MAY_READ_AND_WRITE | FILE_SHARE_DELETE, "2 2 old+tmp new" },
};

TEST_F(Faults, ARunCutShortAtAnyPointIsFinishedByTheNextStartOnBothRoads)
{
    for (const char *version : { (const char *)NULL, "win98" }) {
        SCOPED_TRACE(version ? version : "Windows NT");
        ReportWindows(version);
        std::map<int, int> phases;
        updatedByNextRun = calledUpdated = stranded = 0;
        for (const HeldCut &h : HELD_CUTS) {
            if (version && (h.share & FILE_SHARE_DELETE))
                continue;
            SCOPED_TRACE(h.step);
            UseGame(GAME_DIR);
            HWND dialog = OpenInstaller();
            ASSERT_TRUE(dialog);
            HANDLE held = CreateFileA((game.dir + h.held).c_str(), GENERIC_READ, h.share, NULL, OPEN_EXISTING, 0, NULL);
            PressButton(dialog, IDC_INSTALL);
            EXPECT_TRUE(WaitUntil(WAIT_MS, [&] {
                std::string log = LogText(dialog);
                return log.size() > strlen(h.step) && log.substr(log.size() - strlen(h.step)) == h.step && OnDisk() == h.shown;
            })) << LogText(dialog) << OnDisk();
            Cut(dialog, h.step[5] % 2 == 0);
            CloseHandle(held);
            Landed(phases);
            NextRun();
        }

        // How long the steps take here, from the press to the settler
        // file's new text (watched on disk by its size, as asking the
        // window would slow the run): the longest of three runs, so that
        // the last cuts land after the last step.
        double span = 0;
        for (int run = 0; run < 3; run++) {
            UseGame(GAME_DIR);
            HWND dialog = OpenInstaller();
            ASSERT_TRUE(dialog);
            double pressed = Milliseconds();
            PressButton(dialog, IDC_INSTALL);
            WIN32_FILE_ATTRIBUTE_DATA settler = {};
            while (!GetFileAttributesExA((game.dir + SETTLER_INI).c_str(), GetFileExInfoStandard, &settler) ||
                   settler.nFileSizeLow != SETTLER_INI_LENGTH)
                ASSERT_LT(Milliseconds() - pressed, WAIT_MS);
            span = std::max(span, (Milliseconds() - pressed) * 5 / 4);
        }
        // In the emulated PC (tools/vm-run) each start takes seconds: fewer
        // timed cuts there; every phase is still hit.
        const int POINTS = RunsEmulated() ? 10 : 30;
        for (int point = 0; point < POINTS && !HasFailure(); point++) {
            bool kill = point % 2 == 1;
            double delay = span * (point / 2) / (POINTS / 2 - 1);
            SCOPED_TRACE(testing::Message() << (kill ? "killed " : "closed ") << delay << " ms after the press");
            UseGame(GAME_DIR);
            HWND dialog = OpenInstaller();
            ASSERT_TRUE(dialog);
            PressButton(dialog, IDC_INSTALL);
            Spin(delay);
            Cut(dialog, kill);
            Landed(phases);
            NextRun();
        }

        printf("%s: runs cut short at %d timed points over %.1f ms and held inside steps; cuts landed:",
               version ? version : "NT", POINTS, span);
        for (auto &p : phases)
            printf(" %s: %d;", PHASE_NAMES[p.first], p.second);
        printf(" the next start called the game updated %d times, finished it in one run %d times, stranded it %d times\n",
               calledUpdated, updatedByNextRun, stranded);
        for (int phase = BEFORE; phase <= AFTER; phase++)
            EXPECT_GT(phases[phase], 0) << "no cut landed " << PHASE_NAMES[phase];
    }
}

// Presses that arrive together, as a double click or a bouncing key sends
// them, race the worker the first one starts. Where step 1 cannot be done
// (no leader folder), each run gives the button back at once, so one
// window races many times: whatever wins, the log must hold whole runs one
// after another, never two workers at once. The log holds 200 such runs.
TEST_F(Faults, PressesArrivingTogetherAlwaysRunOneWorker)
{
    RemoveTree(game.dir + LEADER_DIR_WRONG);
    HWND dialog = OpenInstaller();
    ASSERT_TRUE(dialog);
    // How many whole runs the log holds, with the button given back; -1
    // while a run is under way, or when the log is anything else.
    auto wholeRuns = [&] {
        std::string log = LogText(dialog);
        size_t at = Welcome(game.dir).size(), run = strlen(STEP_ONE_FAILED);
        int runs = 0;
        for (; at < log.size() && log.compare(at, run, STEP_ONE_FAILED) == 0; at += run)
            runs++;
        return at == log.size() && IsWindowEnabled(GetDlgItem(dialog, IDC_INSTALL)) ? runs : -1;
    };
    // The emulated PC redraws the growing log slowly: fewer races there.
    const int RACES = RunsEmulated() ? 20 : 80;
    int runs = 0;
    for (int race = 0; race < RACES && !HasFailure(); race++) {
        for (int i = 0; i < 2 + race % 2; i++)
            PressButton(dialog, IDC_INSTALL);
        EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return wholeRuns() > runs; })) << "race " << race << ": " << LogText(dialog);
        runs++;
    }
    EXPECT_FALSE(WaitUntil(300, [&] { return wholeRuns() < runs; })) << LogText(dialog);
    EXPECT_EQ(CloseByCloseBox(dialog), 0u);
}

}  // namespace
