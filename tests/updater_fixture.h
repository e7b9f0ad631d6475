// The updater started on a sample game and driven through its windows:
// the fixture shared by the end-to-end and fault tests.
#ifndef UPDATER_FIXTURE_H
#define UPDATER_FIXTURE_H

#include <gtest/gtest.h>
#include <stdio.h>

#include "resources/resource.h"
#include "test_support.h"
#include "update/unit_ini_texts.h"

static const DWORD WAIT_MS = 30000;
static const char GAME_DIR[] = "C:\\Gry\\Valtheria III";

inline std::string Welcome(const std::string &dir)
{
    return "Witamy w uaktualnieniu do gry ValtheriaIII (uakt.1)\r\n\r\n"
           "Katalog, w którym zainstalowana jest gra: " + dir + "\r\n";
}

static const char FULL_RUN_LOG[] = "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... OK\r\nKrok 4... OK\r\n"
                                   "\r\nUaktualnienie zostało zainstalowane poprawnie.\r\n";

// Printed when the program does not end in time: what windows it still has.
inline BOOL CALLBACK DescribeOne(HWND w, LPARAM pid)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == (DWORD)pid) {
        char cls[64], cap[128];
        GetClassNameA(w, cls, sizeof cls);
        GetWindowTextA(w, cap, sizeof cap);
        printf("  window %p class %s caption '%s' visible %d enabled %d\n", (void *)w, cls, cap, IsWindowVisible(w),
               IsWindowEnabled(w));
    }
    return TRUE;
}

inline void DescribeWindows(DWORD pid)
{
    printf("threads of the process: %d\n", ThreadCount(pid));
    EnumWindows(DescribeOne, pid);
}

class Updater : public testing::Test {
protected:
    PROCESS_INFORMATION process = {};
    SampleGame game;

    void SetUp() override
    {
        ASSERT_FALSE(g_updaterExe.empty()) << "give the updater exe as the first argument";
        UseGame(GAME_DIR);
    }
    void TearDown() override
    {
        EndProcess(process);
        DeleteGameKey();
    }
    void UseGame(const std::string &dir)
    {
        game = MakeSampleGame(dir);
        ASSERT_TRUE(SetInstallPath(dir));
    }
    void Start()
    {
        EndProcess(process);
        ASSERT_TRUE(StartUpdater(&process));
    }
    // Expects a message box, checks it and presses its OK.
    void Answer(const char *caption, const char *text)
    {
        HWND box = WaitForDialog(process.dwProcessId, caption, WAIT_MS);
        ASSERT_NE(box, (HWND)NULL) << "no box \"" << caption << "\"";
        EXPECT_EQ(MessageBoxText(box), text);
        CloseMessageBox(box);
    }
    // Starts the program on a pristine game and returns its open window.
    HWND OpenInstaller()
    {
        Start();
        Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
        HWND dialog = WaitForDialog(process.dwProcessId, INSTALLER_CAPTION, WAIT_MS);
        EXPECT_NE(dialog, (HWND)NULL);
        if (dialog)
            EXPECT_TRUE(WaitForLogEnd(dialog, Welcome(game.dir), WAIT_MS));
        return dialog;
    }
    // Waits for the program to end without its window ever having shown.
    void ExpectEndWithoutWindow()
    {
        DWORD start = GetTickCount();
        while (!WaitForExit(process, 10, NULL)) {
            ASSERT_EQ(FindDialog(process.dwProcessId, INSTALLER_CAPTION), (HWND)NULL);
            ASSERT_EQ(FindDialog(process.dwProcessId, DESCRIPTION_CAPTION), (HWND)NULL);
            ASSERT_LT(GetTickCount() - start, WAIT_MS) << "the program did not end";
        }
    }
    // Closes the window by its close box. The close box does nothing while
    // the window is disabled (the completion box is open, or it is just
    // closing), so the box is answered and the close repeated until the
    // program ends.
    void CloseByCloseBox(HWND dialog, DWORD *exitCode)
    {
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        DWORD start = GetTickCount(), posted = start;
        while (!WaitForExit(process, 5, exitCode)) {
            if (HWND done = FindDialog(process.dwProcessId, DONE_CAPTION))
                CloseMessageBox(done);
            else if (GetTickCount() - posted > 100 && IsWindowEnabled(dialog)) {
                PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
                posted = GetTickCount();
            }
            if (GetTickCount() - start >= WAIT_MS) {
                DescribeWindows(process.dwProcessId);
                FAIL() << "the program did not end";
            }
        }
    }
    std::string File(const std::string &suffix)
    {
        std::string bytes;
        if (!ReadBytes(game.dir + suffix, &bytes))
            return "<missing>";
        return bytes;
    }
    void ExpectUntouched()
    {
        EXPECT_EQ(File(SETTLER_INI), game.settlerIni);
        EXPECT_EQ(File(WORKER_INI), game.workerIni);
    }
    void ExpectUpdated()
    {
        EXPECT_FALSE(Exists(game.dir + LEADER_DIR_WRONG));
        EXPECT_FALSE(Exists(game.dir + ARMY_DIR_WRONG));
        EXPECT_EQ(File(std::string(LEADER_DIR_RIGHT) + LEADER_INI_RIGHT), game.leaderIni);
        EXPECT_EQ(File(std::string(ARMY_DIR_RIGHT) + ARMY_INI_RIGHT), game.armyIni);
        EXPECT_FALSE(Exists(game.dir + LEADER_DIR_RIGHT + LEADER_INI_WRONG));
        EXPECT_FALSE(Exists(game.dir + ARMY_DIR_RIGHT + ARMY_INI_WRONG));
        EXPECT_EQ(File(SETTLER_INI), std::string(SETTLER_INI_TEXT, SETTLER_INI_LENGTH));
        EXPECT_EQ(File(WORKER_INI), std::string(WORKER_INI_TEXT, WORKER_INI_LENGTH));
        EXPECT_FALSE(Exists(game.dir + SETTLER_INI + ".tmp"));
        EXPECT_FALSE(Exists(game.dir + WORKER_INI + ".tmp"));
    }
};

#endif
