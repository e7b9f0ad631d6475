// The real exe under Wine, driven through its windows as a player would,
// with the game folder checked on disk afterwards.
#include "updater_fixture.h"

namespace {

TEST_F(Updater, WithoutTheRegistryEntryItSaysSoAndEnds)
{
    DeleteGameKey();
    Start();
    Answer(CHECKS_CAPTION, NO_GAME_TEXT);
    ExpectEndWithoutWindow();
}

class AlreadyUpdated : public Updater, public testing::WithParamInterface<int> {};

TEST_P(AlreadyUpdated, AnySettlerLengthBut1654EndsAfterTheDescription)
{
    int length = GetParam();
    if (length < 0)
        DeleteFileA((game.dir + SETTLER_INI).c_str());
    else
        ASSERT_TRUE(WriteBytes(game.dir + SETTLER_INI, std::string(length, ';')));
    Start();
    Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
    Answer(CHECKS_CAPTION, ALREADY_TEXT);
    ExpectEndWithoutWindow();
}

INSTANTIATE_TEST_SUITE_P(Lengths, AlreadyUpdated, testing::Values(1653, 1655, 0, -1));

TEST_F(Updater, TheTypicalRoadUpdatesTheGameOnce)
{
    DeleteGameKey();
    ASSERT_TRUE(SetInstallPathWithReg(game.dir));
    HWND dialog = OpenInstaller();
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_EQ(LogText(dialog), Welcome(game.dir));

    RECT r;
    GetWindowRect(dialog, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    GUITHREADINFO gui = { sizeof gui };
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &gui);
    EXPECT_EQ(gui.hwndFocus, GetDlgItem(dialog, IDC_INSTALL));
    EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_CANCEL)), "Anuluj");

    PressButton(dialog, IDC_INSTALL);
    Answer(DONE_CAPTION, DONE_TEXT);
    EXPECT_EQ(LogText(dialog), Welcome(game.dir) + FULL_RUN_LOG);
    EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_CANCEL)), "Zamknij");
    EXPECT_FALSE(IsButtonEnabled(dialog, IDC_INSTALL));
    ExpectUpdated();

    PressButton(dialog, IDC_CANCEL);
    ASSERT_TRUE(WaitForExit(process, WAIT_MS, NULL));

    Start();
    Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
    Answer(CHECKS_CAPTION, ALREADY_TEXT);
    ExpectEndWithoutWindow();
    ExpectUpdated();
}

TEST_F(Updater, AMissingLeaderFolderFailsStepOneAndAllowsAnotherTry)
{
    RemoveTree(game.dir + LEADER_DIR_WRONG);
    HWND dialog = OpenInstaller();
    ASSERT_NE(dialog, (HWND)NULL);
    PressButton(dialog, IDC_INSTALL);
    ASSERT_TRUE(WaitForLogEnd(dialog, "\r\nKrok 1... błąd!\r\n", WAIT_MS));
    EXPECT_TRUE(WaitForButtonEnabled(dialog, IDC_INSTALL, WAIT_MS));
    EXPECT_EQ(LogText(dialog), Welcome(game.dir) + "\r\nKrok 1... błąd!\r\n");
    EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_CANCEL)), "Anuluj");
    EXPECT_TRUE(Exists(game.dir + ARMY_DIR_WRONG));
    ExpectUntouched();
}

TEST_F(Updater, AReadOnlySettlerFileFailsStepThreeAndTheRetryStepOne)
{
    std::string settler = game.dir + SETTLER_INI;
    ASSERT_TRUE(SetFileAttributesA(settler.c_str(), FILE_ATTRIBUTE_READONLY));
    HWND dialog = OpenInstaller();
    ASSERT_NE(dialog, (HWND)NULL);
    PressButton(dialog, IDC_INSTALL);
    std::string firstRun = "\r\nKrok 1... OK\r\nKrok 2... OK\r\nKrok 3... błąd!\r\n";
    ASSERT_TRUE(WaitForLogEnd(dialog, firstRun, WAIT_MS));
    ASSERT_TRUE(WaitForButtonEnabled(dialog, IDC_INSTALL, WAIT_MS));
    ExpectUntouched();
    EXPECT_FALSE(Exists(settler + ".tmp"));

    PressButton(dialog, IDC_INSTALL);
    ASSERT_TRUE(WaitForLogEnd(dialog, "\r\nKrok 1... błąd!\r\n", WAIT_MS));
    EXPECT_EQ(LogText(dialog), Welcome(game.dir) + firstRun + "\r\nKrok 1... błąd!\r\n");
    SetFileAttributesA(settler.c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectUntouched();
}

TEST_F(Updater, EscLeavesTheWindowOpenAndTheCloseBoxEndsIt)
{
    HWND dialog = OpenInstaller();
    ASSERT_NE(dialog, (HWND)NULL);
    HWND focus = GetDlgItem(dialog, IDC_INSTALL);
    PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    // Messages are handled in order: once the run after Esc has logged, Esc
    // was handled and the window is still there.
    PressButton(dialog, IDC_INSTALL);
    Answer(DONE_CAPTION, DONE_TEXT);
    EXPECT_TRUE(IsWindow(dialog));

    DWORD exitCode = 1;
    CloseByCloseBox(dialog, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
