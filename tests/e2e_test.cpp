// The real exe under Wine, driven through its windows as a player would.

#include "harness.h"

namespace {

// At start, for each state of the registry and the game: the description
// box or not, then the box that ends it, or else the window.
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
    { "settler INI of 1653 bytes", [](Updater &u) { WriteBytes(u.game.dir + SETTLER_INI, std::string(1653, ';')); }, true,
      ALREADY_TEXT },
    { "settler INI of 1655 bytes", [](Updater &u) { WriteBytes(u.game.dir + SETTLER_INI, std::string(1655, ';')); }, true,
      ALREADY_TEXT },
    { "settler INI empty", [](Updater &u) { WriteBytes(u.game.dir + SETTLER_INI, ""); }, true, ALREADY_TEXT },
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

// Every Windows the exe declares, as Wine reports it to the exe: the roads
// of 95/98/ME (a replacement in two calls) and of NT. The emulated PC,
// where a start takes seconds, keeps 98, NT 4.0 and 10: ME takes 98's
// road, 2000, XP and 7 that of NT 4.0 with what 10 shows of 2000 and later.
struct WindowsCase {
    const char *version;
    bool win9x, emulated;
} const WINDOWS_CASES[] = {
    { "win98", true, true }, { "winme", true, false }, { "nt40", false, true }, { "win2k", false, false },
    { "winxp", false, false }, { "win7", false, false }, { "win10", false, true },
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
        EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_CANCEL)), "Anuluj");

        PressButton(dialog, IDC_INSTALL);
        // Done, while the completion box is still up.
        ASSERT_TRUE(WaitForDialog(process.dwProcessId, DONE_CAPTION));
        EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_CANCEL)), "Zamknij");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_INSTALL)));
        ExpectCompleted(dialog, Welcome(game.dir));
        PressButton(dialog, IDC_CANCEL);
        ASSERT_TRUE(WaitForExit(process, WAIT_MS));
        ExpectCalledUpdated();
        // Nothing else on the drive changed, not even outside the game.
        std::set<std::string> changed = { "* " + game.dir + SETTLER_INI, "* " + game.dir + WORKER_INI };
        for (int unit = 0; unit < 2; unit++)
            for (std::string place : { "- " + game.dir + IniPlace(unit, 0), "+ " + game.dir + IniPlace(unit, 2) })
                changed.insert(place), changed.insert(place.substr(0, place.rfind('\\')));
        EXPECT_EQ(Changes(before, Snapshot("C:", false)), changed);
        ExpectSteps(4);

        // The settler held so that others may delete it: NT's one-call
        // replace waits in step 4 until the holder lets go, here after half
        // the wait; 9x, which deletes no open file, stops at step 3.
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
            Install(dialog, log);
        } else {
            log += "OK\r\nKrok 4... ";
            ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return LogText(dialog) == log && OnDisk() == "2 2 old+tmp new"; })) << LogText(dialog);
            EXPECT_FALSE(WaitUntil(LOCK_WAIT_MS / 2, [&] { return LogText(dialog) != log; })) << LogText(dialog);
            CloseHandle(held);
            ExpectCompleted(dialog, Welcome(game.dir));
            ExpectSteps(4);
        }
        EXPECT_EQ(CloseByCloseBox(dialog), 0u);
    }
}

// Fills drive T: (1 KiB blocks, see the test command) but freeBlocks.
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

// A game file held as a game or a scanner holds it.
const std::string WORKER_DIR = "\\Art\\Units\\Robotnik Era Przemysłowa";
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

// A run stopped at a step: the cause, its remedy (none: it stays), the disk
// after. Once the cause is gone, one "Instaluj" finishes the update, in the
// same window or after a restart; while it stays, no start calls the game
// updated. A held file fails its step after the wait, any other cause at
// once (timed at step 1, where no other step's time counts).
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
    { "worker INI held past the wait", GAME_DIR, [](Updater &u) { Hold(u, WORKER_INI); }, LetGo, 4, "2 2 old old", true },
    // The new settler text needs two blocks; the worker's three more.
    { "full disk at step 3", "T:\\Gra", [](Updater &u) { FillDriveLeaving(u, 1); }, EmptyDrive, 3, "2 2 old old", false },
    { "full disk at step 4", "T:\\Gra", [](Updater &u) { FillDriveLeaving(u, 3); }, EmptyDrive, 4, "2 2 old old", false },
    { "no worker folder", GAME_DIR, [](Updater &u) { RemoveTree(u.game.dir + WORKER_DIR), u.game.workerIni = "<missing>"; },
      NULL, 4, "2 2 old old", false },
    { "no leader folder under either name", GAME_DIR, [](Updater &u) { RemoveTree(u.game.dir + LEADER_DIR_WRONG); },
      NULL, 1, "? 0 old old", false },
    { "army folder under both names", GAME_DIR,
      [](Updater &u) { MakeFolders(u.game.dir + ARMY_DIR_RIGHT), WriteBytes(u.game.dir + IniPlace(1, 2), u.game.armyIni); },
      NULL, 2, "2 ? old old", false },
};

TEST_F(Updater, AStoppedUpdateFinishesOnceItsCauseIsRemoved)
{
    for (const FailCase &c : FAIL_CASES)
        for (bool restart : { false, true }) {
            SCOPED_TRACE(testing::Message() << c.name << (restart ? ", after a restart" : ", in the same window"));
            // In the emulated PC, where each start takes seconds, a row is
            // mended after a restart only; the same window's retry natively.
            if ((!c.mend || RunsEmulated()) && !restart)
                continue;
            ASSERT_TRUE(c.dir[0] != 'T' || GetDriveTypeA("T:\\") != DRIVE_NO_ROOT_DIR) << "no size-limited drive T: here";
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
                else if (c.step == 1 && !RunsEmulated()) // where a step alone may take seconds
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
            else if (restart)
                EXPECT_TRUE(OpenInstaller()) << "called updated";
        }
}

// A DLL beside the exe in a Downloads folder under a system DLL's name,
// Wine told to prefer it as Windows does (by this key: a Windows parent
// cannot hand on WINEDLLOVERRIDES): the road goes as ever, the DLL unloaded.
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
