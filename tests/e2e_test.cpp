// The real exe under Wine, driven through its windows as a player would.
#include <stdlib.h>

#include "harness.h"

namespace {

void WriteSettler(Updater &u, int length)
{
    ASSERT_TRUE(WriteBytes(u.game.dir + SETTLER_INI, std::string(length, ';')));
}

// What the program shows at start for each state of the registry and the
// game: the description box or not, then the box that ends it, or else its
// window with the folder as the welcome shows it.
struct StartCase {
    const char *name;
    void (*arrange)(Updater &);
    bool described;
    const char *verdict;
} const START_CASES[] = {
    { "no registry entry", [](Updater &) { DeleteGameKey(); }, false, NO_GAME_TEXT },
    { "an empty folder value", [](Updater &) { ASSERT_TRUE(SetInstallValue(REG_SZ, "", 1)); }, false, NO_GAME_TEXT },
    { "a folder that does not exist", [](Updater &) { ASSERT_TRUE(SetInstallPath("C:\\Gry\\Brak")); }, true,
      ALREADY_TEXT },
    { "settler INI of 1653 bytes", [](Updater &u) { WriteSettler(u, 1653); }, true, ALREADY_TEXT },
    { "settler INI of 1655 bytes", [](Updater &u) { WriteSettler(u, 1655); }, true, ALREADY_TEXT },
    { "settler INI empty", [](Updater &u) { WriteSettler(u, 0); }, true, ALREADY_TEXT },
    { "settler INI missing", [](Updater &u) { DeleteFileA((u.game.dir + SETTLER_INI).c_str()); }, true,
      ALREADY_TEXT },
    { "a folder with a trailing backslash", [](Updater &u) { ASSERT_TRUE(SetInstallPath(u.game.dir + "\\")); },
      true, NULL },
};

TEST_F(Updater, StartUpShowsItsBoxesInOrderAndOpensOnlyOnTheGameAsInstalled)
{
    for (const StartCase &c : START_CASES) {
        SCOPED_TRACE(c.name);
        UseGame(GAME_DIR);
        c.arrange(*this);
        Start();
        if (c.described)
            Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
        if (c.verdict) {
            Answer(CHECKS_CAPTION, c.verdict);
            ExpectEndWithoutWindow();
            continue;
        }
        HWND dialog = WaitForDialog(process.dwProcessId, INSTALLER_CAPTION);
        ASSERT_TRUE(dialog && WaitUntil(WAIT_MS, [&] { return LogText(dialog) == Welcome(game.dir + "\\"); }));
        Install(dialog, Welcome(game.dir + "\\"));
    }
}

// Every Windows the exe declares, as Wine reports it to the exe: the road
// of Windows 95/98/ME (no MoveFileEx; a replacement in two calls) and that
// of Windows NT. In the emulated PC, where each start takes seconds, ME and
// 2000 are left out: they take the roads of 98 and of NT 4.0 and XP.
struct WindowsCase {
    const char *version;
    bool win9x, emulated;
} const WINDOWS_CASES[] = {
    { "win98", true, true }, { "winme", true, false }, { "nt40", false, true }, { "win2k", false, false },
    { "winxp", false, true }, { "win7", false, true }, { "win10", false, true },
};

TEST_F(Updater, TheTypicalRoadUpdatesTheGameOnceOnEveryWindows)
{
    for (const WindowsCase &c : WINDOWS_CASES) {
        if (RunsEmulated() && !c.emulated)
            continue;
        SCOPED_TRACE(c.version);
        ReportWindows(c.version);
        UseGame(GAME_DIR);
        // Written as the game's setup writes it, in the 32-bit view.
        DeleteGameKey();
        std::string reg = "reg.exe add \"HKLM\\SOFTWARE\\Korvane Interactive\\Valtheria III\" /v INSTALL_PATH "
                          "/t REG_SZ /d \"" + game.dir + "\" /f /reg:32 >NUL";
        ASSERT_EQ(system(reg.c_str()), 0);
        Entries before = Snapshot("C:", false);
        HWND dialog = OpenInstaller();
        ASSERT_TRUE(dialog);
        RECT r;
        GetWindowRect(dialog, &r);
        EXPECT_TRUE(r.left == 0 && r.top == 0) << "not at the top left";
        GUITHREADINFO gui = { sizeof gui };
        GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &gui);
        EXPECT_EQ(gui.hwndFocus, GetDlgItem(dialog, IDC_INSTALL));
        EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_CANCEL)), "Anuluj");

        PressButton(dialog, IDC_INSTALL);
        // Done, while the completion box is still up.
        ASSERT_TRUE(WaitForDialog(process.dwProcessId, DONE_CAPTION));
        EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_CANCEL)), "Zamknij");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_INSTALL)));
        Answer(DONE_CAPTION, DONE_TEXT);
        EXPECT_EQ(LogText(dialog), Welcome(game.dir) + FULL_RUN_LOG);
        PressButton(dialog, IDC_CANCEL);
        ASSERT_TRUE(WaitForExit(process, WAIT_MS));
        ExpectCalledUpdated();
        // Nothing else on the drive changed, not even outside the game.
        std::string g = GAME_DIR;
        EXPECT_EQ(Changes(before, Snapshot("C:", false)), (std::set<std::string>{
                      "- " + g + LEADER_DIR_WRONG, "- " + g + LEADER_DIR_WRONG + LEADER_INI_WRONG,
                      "+ " + g + LEADER_DIR_RIGHT, "+ " + g + LEADER_DIR_RIGHT + LEADER_INI_RIGHT,
                      "- " + g + ARMY_DIR_WRONG, "- " + g + ARMY_DIR_WRONG + ARMY_INI_WRONG,
                      "+ " + g + ARMY_DIR_RIGHT, "+ " + g + ARMY_DIR_RIGHT + ARMY_INI_RIGHT,
                      "* " + g + SETTLER_INI, "* " + g + WORKER_INI }));
        ExpectSteps(4);

        // The road taken shows when another program holds the settler file
        // open and lets others delete it. NT replaces it in one call, which
        // waits at step 4, the worker file already new, until the holder
        // lets go: here after half the wait, well beyond a passing moment.
        // 9x, which cannot delete an open file, finds it held at step 3 and
        // stops, the game as it was; the next run finishes.
        UseGame(GAME_DIR);
        dialog = OpenInstaller();
        ASSERT_TRUE(dialog);
        HANDLE held = CreateFileA((game.dir + SETTLER_INI).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        PressButton(dialog, IDC_INSTALL);
        std::string log = Welcome(game.dir) + "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... ";
        if (c.win9x) {
            ExpectStopped(dialog, log += "błąd!\r\n");
            ExpectSteps(2);
            CloseHandle(held);
            PressButton(dialog, IDC_INSTALL);
            log += FULL_RUN_LOG;
        } else {
            log += "OK\r\nKrok 4... ";
            ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return LogText(dialog) == log && File(WORKER_INI) == WORKER_NEW; }))
                << LogText(dialog);
            EXPECT_FALSE(WaitUntil(LOCK_WAIT_MS / 2, [&] { return LogText(dialog) != log; })) << LogText(dialog);
            EXPECT_EQ(File(SETTLER_INI), game.settlerIni);
            CloseHandle(held);
            log = Welcome(game.dir) + FULL_RUN_LOG;
        }
        Answer(DONE_CAPTION, DONE_TEXT);
        EXPECT_EQ(LogText(dialog), log);
        ExpectSteps(4);
        EXPECT_EQ(CloseByCloseBox(dialog), 0u);
    }
}

// Drive T: is a small file system with 1 KiB blocks (see the test command).
// Fills it, a block and then a byte at a time, so that only freeBlocks
// blocks stay free.
void FillDriveLeaving(Updater &u, int freeBlocks)
{
    std::string spare = u.game.dir + "\\spare";
    ASSERT_TRUE(WriteBytes(spare, std::string(freeBlocks * 1024, 's')));
    FILE *f = fopen((u.game.dir + "\\filler").c_str(), "wb");
    ASSERT_TRUE(f != NULL);
    for (size_t chunk : { 1024, 1 }) {
        while (fwrite(std::string(chunk, 'f').data(), 1, chunk, f) == chunk && fflush(f) == 0) {
        }
        clearerr(f);
    }
    fclose(f);
    ASSERT_TRUE(DeleteFileA(spare.c_str()));
}
void EmptyDrive(Updater &u)
{
    DeleteFileA((u.game.dir + "\\filler").c_str());
}

// Another program holding a game file as a game or a scanner opens it:
// others may read and write it, not rename or replace it.
HANDLE g_held;
void Hold(Updater &u, const std::string &suffix)
{
    g_held = CreateFileA((u.game.dir + suffix).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, 0, NULL);
    ASSERT_NE(g_held, INVALID_HANDLE_VALUE);
}
void LetGo(Updater &)
{
    CloseHandle(g_held);
}
void ReadOnly(Updater &u, const char *suffix, bool readOnly)
{
    ASSERT_TRUE(SetFileAttributesA((u.game.dir + suffix).c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL));
}

// A link where the leader folder's right name would stand, to a folder
// then removed: a name Windows cannot see and no rename can take. Planted,
// or removed again.
void LinkToNothing(Updater &u, bool planted)
{
    std::string link = u.game.dir + LEADER_DIR_RIGHT, gone = "C:\\Usuniety";
    MakeFolders(gone);
    ASSERT_TRUE(planted ? PlantLink(link, gone) : WaitUntil(WAIT_MS, [&] { return Exists(link); }));
    if (!planted)
        RemoveLink(link);
    RemoveTree(gone);
    ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return !Exists(link); }));
}

// A run stopped at a step: the cause, its remedy (none: the cause stays),
// and the disk after the stop (see OnDisk); the settler, the update's
// record, keeps its old text. Once the cause is gone, one more "Instaluj"
// finishes the update, in the same window or after a restart; while it
// stays, every run stops again and no start calls the game updated. A file
// held by another program fails its step only once the wait is over; any
// other cause at once (timed where it is the first step, so that no other
// step's time counts).
struct FailCase {
    const char *name, *dir;
    void (*arrange)(Updater &);
    void (*mend)(Updater &);
    int step;
    const char *stopped;
    bool held;
} const FAIL_CASES[] = {
    { "leader INI held past the wait, its folder renamed", GAME_DIR,
      [](Updater &u) { Hold(u, std::string(LEADER_DIR_WRONG) + LEADER_INI_WRONG); }, LetGo, 1, "1 0 old old", true },
    { "settler INI read-only", GAME_DIR, [](Updater &u) { ReadOnly(u, SETTLER_INI, true); },
      [](Updater &u) { ReadOnly(u, SETTLER_INI, false); }, 3, "2 2 old old", false },
    { "settler INI held past the wait", GAME_DIR, [](Updater &u) { Hold(u, SETTLER_INI); }, LetGo, 3, "2 2 old old", true },
    { "worker INI read-only", GAME_DIR, [](Updater &u) { ReadOnly(u, WORKER_INI, true); },
      [](Updater &u) { ReadOnly(u, WORKER_INI, false); }, 4, "2 2 old old", false },
    { "worker INI held past the wait", GAME_DIR, [](Updater &u) { Hold(u, WORKER_INI); }, LetGo, 4, "2 2 old old", true },
    // The new settler text needs two blocks; the worker's three more.
    { "full disk at step 3", "T:\\Gra", [](Updater &u) { FillDriveLeaving(u, 1); }, EmptyDrive, 3, "2 2 old old", false },
    { "full disk at step 4", "T:\\Gra", [](Updater &u) { FillDriveLeaving(u, 3); }, EmptyDrive, 4, "2 2 old old", false },
    { "a link to nothing at the leader folder's right name", GAME_DIR, [](Updater &u) { LinkToNothing(u, true); },
      [](Updater &u) { LinkToNothing(u, false); }, 1, "0 0 old old", false },
    { "no worker folder", GAME_DIR,
      [](Updater &u) {
          RemoveTree(u.game.dir + "\\Art\\Units\\Robotnik Era Przemysłowa");
          u.game.workerIni = "<missing>";
      },
      NULL, 4, "2 2 old old", false },
    { "no leader folder under either name", GAME_DIR, [](Updater &u) { RemoveTree(u.game.dir + LEADER_DIR_WRONG); },
      NULL, 1, "? 0 old old", false },
    { "army folder under both names", GAME_DIR,
      [](Updater &u) {
          MakeFolders(u.game.dir + ARMY_DIR_RIGHT);
          ASSERT_TRUE(WriteBytes(u.game.dir + ARMY_DIR_RIGHT + ARMY_INI_RIGHT, u.game.armyIni));
      },
      NULL, 2, "2 ? old old", false },
};

TEST_F(Updater, AStoppedUpdateFinishesOnceItsCauseIsRemoved)
{
    for (const FailCase &c : FAIL_CASES)
        for (bool restart : { false, true }) {
            SCOPED_TRACE(testing::Message() << c.name << (restart ? ", after a restart" : ", in the same window"));
            if (!c.mend && !restart)
                continue;
            if (c.dir[0] == 'T' && GetDriveTypeA("T:\\") == DRIVE_NO_ROOT_DIR) {
                ADD_FAILURE() << "no size-limited drive T: in this prefix";
                break;
            }
            UseGame(c.dir);
            c.arrange(*this);
            HWND dialog = OpenInstaller();
            ASSERT_TRUE(dialog);
            std::string log = Welcome(game.dir);
            auto stops = [&] {
                double pressed = Milliseconds();
                PressButton(dialog, IDC_INSTALL);
                ExpectStopped(dialog, log += StoppedAt(c.step));
                if (c.held)
                    EXPECT_GE(Milliseconds() - pressed, LOCK_WAIT_MS) << "a held file not waited for";
                else if (c.step == 1)
                    EXPECT_LT(Milliseconds() - pressed, LOCK_WAIT_MS) << "waited for what no wait cures";
                EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_CANCEL)), "Anuluj");
                EXPECT_EQ(OnDisk(), c.stopped);
            };
            stops();
            if (restart) {
                EXPECT_EQ(CloseByCloseBox(dialog), 0u);
                if (c.mend)
                    c.mend(*this);
                ASSERT_TRUE(dialog = OpenInstaller());
                log = Welcome(game.dir);
            } else
                c.mend(*this);
            if (!c.mend) {
                stops();
            } else
                Install(dialog, log);
            EXPECT_EQ(CloseByCloseBox(dialog), 0u);
            if (restart && c.mend)
                ExpectCalledUpdated();
            else if (restart) {
                Start();
                Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
                EXPECT_TRUE(WaitForDialog(process.dwProcessId, INSTALLER_CAPTION)) << "called updated";
            }
        }
}

// A DLL saved beside the exe under a system DLL's name, as in a Downloads
// folder, with Wine told to prefer such a copy as Windows does: the typical
// road goes as ever and the DLL is never loaded. Wine takes the override for
// one program from this key (its loader reads WINEDLLOVERRIDES from the Unix
// environment, which a Windows parent cannot hand on).
TEST_F(Updater, ADllPlantedBesideTheExeIsNeverLoaded)
{
    char planted[MAX_PATH];
    GetModuleFileNameA(NULL, planted, MAX_PATH);
    strcpy(strrchr(planted, '\\') + 1, "planted\\uxtheme.dll");
    std::string folder = "C:\\users\\Public\\Downloads", name = strrchr(g_exe.c_str(), '\\') + 1;
    std::string overrides = "Software\\Wine\\AppDefaults\\" + name + "\\DllOverrides";
    CreateDirectoryA(folder.c_str(), NULL);
    DeleteFileA((folder + "\\uxtheme.dll.loaded").c_str());
    ASSERT_TRUE(CopyFileA(g_exe.c_str(), (folder + "\\" + name).c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(planted, (folder + "\\uxtheme.dll").c_str(), FALSE));
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, overrides.c_str(), "uxtheme", REG_SZ, "native,builtin", sizeof "native,builtin"), 0);
    HWND dialog = OpenInstaller(folder + "\\" + name);
    RegDeleteKeyA(HKEY_CURRENT_USER, overrides.c_str());
    ASSERT_TRUE(dialog);
    Install(dialog, Welcome(game.dir));
    EXPECT_EQ(CloseByCloseBox(dialog), 0u);
    EXPECT_FALSE(Exists(folder + "\\uxtheme.dll.loaded"));
}

}  // namespace
