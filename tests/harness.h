// The exe under test, started on a sample game and driven through its
// windows, with the game folder checked on disk afterwards.
#ifndef HARNESS_H
#define HARNESS_H

#include <gtest/gtest.h>
#include <map>
#include <set>

#include "resources/resource.h"
#include "tools/driver/updater_driver.h"
#include "update/unit_ini_texts.h"

// The exe under test, from the command line.
extern std::string g_exe;

static const char GAME_DIR[] = "C:\\Gry\\Valtheria III";
static const char FULL_RUN_LOG[] = "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... OK\r\nKrok 4... OK\r\n"
                                   "\r\nUaktualnienie zostało zainstalowane poprawnie.\r\n";
static const char STEP_ONE_FAILED[] = "\r\nKrok 1... błąd!\r\n";
const std::string SETTLER_NEW(SETTLER_INI_TEXT, SETTLER_INI_LENGTH);
const std::string WORKER_NEW(WORKER_INI_TEXT, WORKER_INI_LENGTH);
const std::string TMP = ".tmp";
// How long the program waits out a file that another program holds.
const LONGLONG LOCK_WAIT_MS = 2000;

std::string Welcome(const std::string &dir);
// The log of a run stopped at a step, the steps before it done.
std::string StoppedAt(int step);

// A Unix symbolic link made from the Linux side, as another user's
// junction is on Windows; both wait until Wine sees the change.
bool PlantLink(const std::string &link, const std::string &target);
void RemoveLink(const std::string &link);

// Every entry under a folder, links not followed: "dir" for folders, and
// for files their bytes, or else their size and time of writing. What
// changed between two: "- " gone, "+ " new, "* " changed, and the path.
typedef std::map<std::string, std::string> Entries;
Entries Snapshot(const std::string &dir, bool bytes, Entries out = {});
std::set<std::string> Changes(const Entries &before, const Entries &after);

// A steady clock, in ms with fractions.
double Milliseconds();
// Busy-waits for a few ms, which Sleep cannot time.
void Spin(double ms);

// True in the emulated PC of tools/vm-run, where everything is many times
// slower.
bool RunsEmulated();

// The Windows that Wine reports to the exe under test ("win98", "nt40", ...;
// null: Wine's own default).
void ReportWindows(const char *version);

// Where a renamed unit's INI (0 leader, 1 army) stands under the game
// folder: in place 0 as installed, 1 in its renamed folder, 2 renamed too.
std::string IniPlace(int unit, int place);

class Updater : public testing::Test {
public:
    PROCESS_INFORMATION process = {};
    SampleGame game;

    void SetUp() override;
    void TearDown() override;
    void UseGame(const std::string &dir);
    void Start(const std::string &exe = g_exe);
    // The next window the program shows must be this message box; presses its OK.
    void Answer(const char *caption, const char *text);
    // Starts the program on the game and returns its window, showing the welcome.
    HWND OpenInstaller(const std::string &exe = g_exe);
    // Starts the program, which must call the game updated and end.
    void ExpectCalledUpdated();
    // "Instaluj" updates the game: the completion box, the log so far
    // followed by the whole run's, every fix on disk.
    void Install(HWND dialog, const std::string &logBefore);
    // The program ends without ever showing its window.
    void ExpectEndWithoutWindow();
    // A run ends at a failed step: its log as given, "Instaluj" enabled.
    void ExpectStopped(HWND dialog, const std::string &log);
    // Ends the program by its close box, answering the completion box if
    // it stands in the way; the exit code when it ended, else a failure.
    DWORD CloseByCloseBox(HWND dialog);
    std::string File(const std::string &suffix) { return Read(game.dir + suffix); }
    // The update's work as the disk shows it: in which place each renamed
    // INI (leader, army) stands whole, ? in none or more than one; then
    // whether the settler
    // and the worker file hold their "old" or "new" text (else "torn"),
    // with "+tmp" where a replacement stands beside it.
    std::string OnDisk();
    // The disk after the first n steps, nothing half done: the settler, the
    // update's record, takes its text last.
    static std::string Steps(int n);
    void ExpectSteps(int n) { EXPECT_EQ(OnDisk(), Steps(n)); }
};

#endif
