// The player's own hands: keys and mouse clicks as the X server delivers
// them (XTEST events), which go through the dialog manager's keyboard road
// as a real keyboard's do, autorepeat of a held key included.
#include "harness.h"

namespace {

// A key held down, let go of when the case ends, however it ends.
struct HeldKey {
    const char *key;
    explicit HeldKey(const char *k) : key(k) { RealInput((std::string("keydown ") + key).c_str()); }
    ~HeldKey() { RealInput((std::string("keyup ") + key).c_str()); }
};

HWND Focus(HWND dialog)
{
    GUITHREADINFO gui = { sizeof gui };
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &gui);
    return gui.hwndFocus;
}

class RealInputCase : public Updater {
public:
    HWND dialog = NULL;
    bool Done() { return LogText(dialog) == Welcome(game.dir) + FULL_RUN_LOG; }
    bool DoneBoxUp() { return FindDialog(process.dwProcessId, DONE_CAPTION) != NULL; }
    // The description box answered by a key, then the window open.
    void OpenByKey()
    {
        Start();
        ASSERT_TRUE(WaitForDialog(process.dwProcessId, DESCRIPTION_CAPTION, WAIT_MS, "Usunięte"));
        RealInput("key Return");
        dialog = WaitForDialog(process.dwProcessId, INSTALLER_CAPTION);
        ASSERT_TRUE(dialog && WaitUntil(WAIT_MS, [&] { return LogText(dialog) == Welcome(game.dir); }));
        ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return Focus(dialog) == GetDlgItem(dialog, IDC_INSTALL); }));
    }
    // The completion box answered by a key, and nothing more happening.
    void AnswerDoneByKey()
    {
        ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return DoneBoxUp(); }));
        RealInput("key Return");
        ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return !DoneBoxUp(); }));
    }
};

// What the player does, and how the program must end up: the run's log,
// the steps on disk, and whether the program ended.
struct InputCase {
    const char *name;
    void (*play)(RealInputCase &);
    bool updated, ended;
} const INPUT_CASES[] = {
    { "Enter held from the description box through the completion box",
      [](RealInputCase &t) {
          t.Start();
          ASSERT_TRUE(WaitForDialog(t.process.dwProcessId, DESCRIPTION_CAPTION, WAIT_MS, "Usunięte"));
          HeldKey enter("Return");
          ASSERT_TRUE(t.dialog = WaitForDialog(t.process.dwProcessId, INSTALLER_CAPTION));
          ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return t.DoneBoxUp(); })) << LogText(t.dialog);
          ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return !t.DoneBoxUp(); }));
          // The key still repeats into the window for a while.
          EXPECT_FALSE(WaitUntil(1500, [&] { return !t.Done(); })) << LogText(t.dialog);
      },
      true, false },
    { "Enter pressed once per box",
      [](RealInputCase &t) {
          t.OpenByKey();
          RealInput("key Return");
          t.AnswerDoneByKey();
          EXPECT_FALSE(WaitUntil(300, [&] { return !t.Done(); })) << LogText(t.dialog);
      },
      true, false },
    { "a mouse click on Instaluj",
      [](RealInputCase &t) {
          t.OpenByKey();
          RealInput(("mousemove " + ScreenCentre(GetDlgItem(t.dialog, IDC_INSTALL)) + " click 1").c_str());
          t.AnswerDoneByKey();
      },
      true, false },
    { "Space on the focused button",
      [](RealInputCase &t) {
          t.OpenByKey();
          RealInput("key space");
          t.AnswerDoneByKey();
      },
      true, false },
    { "Esc ignored, then Enter",
      [](RealInputCase &t) {
          t.OpenByKey();
          RealInput("key Escape");
          EXPECT_FALSE(WaitUntil(300, [&] { return !IsWindow(t.dialog) || LogText(t.dialog) != Welcome(t.game.dir); }));
          RealInput("key Return");
          t.AnswerDoneByKey();
      },
      true, false },
    { "Tab in template order",
      [](RealInputCase &t) {
          t.OpenByKey();
          // The picture is no tab stop.
          for (int id : { IDC_CANCEL, IDC_STATUS, IDC_INSTALL }) {
              RealInput("key Tab");
              EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return Focus(t.dialog) == GetDlgItem(t.dialog, id); })) << id;
          }
      },
      false, false },
    { "Alt+F4 ends the program",
      [](RealInputCase &t) {
          t.OpenByKey();
          RealInput("key alt+F4");
      },
      false, true },
};

TEST_F(RealInputCase, TheKeysAndMouseOfAPlayerDoWhatTheyShow)
{
    for (const InputCase &c : INPUT_CASES) {
        SCOPED_TRACE(c.name);
        UseGame(GAME_DIR);
        dialog = NULL;
        c.play(*this);
        if (c.ended) {
            DWORD exitCode = 1;
            EXPECT_TRUE(WaitForExit(process, WAIT_MS, &exitCode));
            EXPECT_EQ(exitCode, 0u);
            ExpectSteps(0);
            continue;
        }
        ASSERT_TRUE(dialog);
        EXPECT_EQ(LogText(dialog), Welcome(game.dir) + (c.updated ? FULL_RUN_LOG : ""));
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, IDC_INSTALL)), !c.updated);
        ExpectSteps(c.updated ? 4 : 0);
        EXPECT_EQ(CloseByCloseBox(dialog), 0u);
    }
}

}  // namespace
