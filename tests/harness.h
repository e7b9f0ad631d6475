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

extern std::string g_exe;  // from the command line

static const char GAME_DIR[] = "C:\\Gry\\Valtheria III";
static const char FULL_RUN_LOG[] = "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... OK\r\nKrok 4... OK\r\n"
                                   "\r\nUaktualnienie zostało zainstalowane poprawnie.\r\n";
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
// An empty folder removed from the Linux side, even one a program holds.
void RemoveEmptyFolderFromLinux(const std::string &folder);

// Every entry under a folder, links not followed: "dir", or a file's bytes
// or its size and time; what changed: "- " gone, "+ " new, "* " changed.
typedef std::map<std::string, std::string> Entries;
Entries Snapshot(const std::string &dir, bool bytes, Entries out = {});
std::set<std::string> Changes(const Entries &before, const Entries &after);

unsigned long long Fnv1a(const char *bytes, size_t length);
// A steady clock in ms, and a busy wait of a few ms, which Sleep cannot time.
double Milliseconds();
void Spin(double ms);

// Stops, or lets go on, every thread of a program but its window's, as a
// PC too busy to give it a turn would.
void Freeze(const PROCESS_INFORMATION &program, bool frozen);

// True in the emulated PC of tools/vm-run, many times slower.
bool RunsEmulated();

// The Windows Wine reports to the exe ("win98", ...; null: Wine's default).
void ReportWindows(const char *version);

// Place 0 (as installed), 1 (folder renamed) or 2 (renamed too) of a
// renamed unit's INI (0 leader, 1 army) under the game folder.
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
    // A run ends with the completion box, the whole run's log after the
    // log before; Install presses "Instaluj" first, and checks the disk.
    void ExpectCompleted(HWND dialog, const std::string &logBefore);
    void Install(HWND dialog, const std::string &logBefore);
    // The program ends without ever showing its window.
    void ExpectEndWithoutWindow();
    // The run shows it is inside a step: the log ends with the step's
    // prefix and the disk is as shown.
    bool ShowsStep(HWND dialog, const std::string &step, const std::string &shown);
    // A run ends at a failed step: its log as given, "Instaluj" enabled.
    void ExpectStopped(HWND dialog, const std::string &log);
    // Ends the program by its close box, answering the completion box in
    // the way; its exit code.
    DWORD CloseByCloseBox(HWND dialog);
    std::string File(const std::string &suffix) { return Read(game.dir + suffix); }
    // The update's work on disk: the place of each renamed INI (leader,
    // army) that stands whole, ? for none or several; whether the settler
    // and the worker hold their "old" or "new" text (else "torn"), with
    // "+tmp" where a replacement stands beside.
    std::string OnDisk();
    // The disk after n steps; the settler, the update's record, changes last.
    static std::string Steps(int n);
    void ExpectSteps(int n) { EXPECT_EQ(OnDisk(), Steps(n)); }
};

#endif
