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

std::string Welcome(const std::string &dir);

// A Unix symbolic link made from the Linux side, as another user's
// junction is on Windows; both wait until Wine sees the change.
bool PlantLink(const std::string &link, const std::string &target);
void RemoveLink(const std::string &link);

// Every entry under a folder, links not followed: "dir" for folders, and
// for files their bytes, or else their size and time of writing. What
// changed between two: "- " gone, "+ " new, "* " changed, and the path.
void Snapshot(const std::string &dir, std::map<std::string, std::string> &out, bool bytes);
std::set<std::string> Changes(std::map<std::string, std::string> &before, std::map<std::string, std::string> &after);

// A steady clock, for gaps of a few ms.
LONGLONG Microseconds();

// True in the emulated PC of tools/vm-run, where everything is many times
// slower.
bool RunsEmulated();

// The Windows that Wine reports to the exe under test ("win98", "nt40", ...;
// null: Wine's own default).
void ReportWindows(const char *version);

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
    // The program ends without ever showing its window.
    void ExpectEndWithoutWindow();
    // Ends the program by its close box, answering the completion box if
    // it stands in the way; the exit code when it ended, else a failure.
    DWORD CloseByCloseBox(HWND dialog);
    std::string File(const std::string &suffix) { return Read(game.dir + suffix); }
    // Where a renamed unit's INI (0 leader, 1 army) stands, whole: 0 as
    // installed, 1 in the renamed folder, 2 renamed too; -1 when not in
    // exactly one of these places.
    int Place(int unit);
    // Checks every file the update touches is whole, old or new; returns
    // how many steps' work is on disk, counted in order.
    int StepsOnDisk();
    // Each renamed INI stands in this place, this many INIs (settler, then
    // worker) hold their new texts and no replacement file is left beside.
    void ExpectState(int leader, int army, int rewritten);
    // Exactly the work of the first n steps is on disk, nothing half done.
    void ExpectSteps(int n) { ExpectState(n >= 1 ? 2 : 0, n >= 2 ? 2 : 0, n > 2 ? n - 2 : 0); }
};

#endif
