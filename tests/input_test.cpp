// The player's own hands: keys and mouse clicks as the X server delivers
// them (XTEST events), which go through the dialog manager's keyboard road
// as a real keyboard's do, autorepeat of a held key included.
#include "harness.h"

namespace {

// A key held down in a window, let go of when the case ends, however it ends.
struct HeldKey {
    const char *key;
    HeldKey(HWND window, const char *k) : key(k) { TypeInto(window, (std::string("keydown ") + key).c_str()); }
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
    // Starts the program; its description box, shown with its text.
    HWND Description()
    {
        Start();
        return WaitForDialog(process.dwProcessId, DESCRIPTION_CAPTION, WAIT_MS, "Usunięte");
    }
    // The description box answered by a key, then the window open.
    void OpenByKey()
    {
        HWND box = Description();
        ASSERT_TRUE(box);
        TypeInto(box, "key Return");
        dialog = WaitForDialog(process.dwProcessId, INSTALLER_CAPTION);
        ASSERT_TRUE(dialog && WaitUntil(WAIT_MS, [&] { return LogText(dialog) == Welcome(game.dir); }));
        ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return Focus(dialog) == GetDlgItem(dialog, IDC_INSTALL); }));
    }
    // The completion box answered by a key, and nothing more happening.
    void AnswerDoneByKey()
    {
        HWND box = WaitForDialog(process.dwProcessId, DONE_CAPTION);
        ASSERT_TRUE(box);
        TypeInto(box, "key Return");
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
          HWND box = t.Description();
          ASSERT_TRUE(box);
          HeldKey enter(box, "Return");
          ASSERT_TRUE(t.dialog = WaitForDialog(t.process.dwProcessId, INSTALLER_CAPTION));
          // Each new window gets the X focus as a window manager would give it.
          ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return GetForegroundWindow() == t.dialog; }));
          RealInput(XFocusTo(t.dialog).c_str());
          HWND done = WaitForDialog(t.process.dwProcessId, DONE_CAPTION);
          ASSERT_TRUE(done && WaitUntil(WAIT_MS, [&] { return GetForegroundWindow() == done; })) << LogText(t.dialog);
          RealInput(XFocusTo(done).c_str());
          ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return !t.DoneBoxUp(); }));
          // The key still repeats into the window for a while.
          EXPECT_FALSE(WaitUntil(1500, [&] { return !t.Done(); })) << LogText(t.dialog);
      },
      true, false },
    { "Enter pressed once per box",
      [](RealInputCase &t) {
          t.OpenByKey();
          TypeInto(t.dialog, "key Return");
          t.AnswerDoneByKey();
          EXPECT_FALSE(WaitUntil(300, [&] { return !t.Done(); })) << LogText(t.dialog);
      },
      true, false },
    { "a mouse click on Instaluj",
      [](RealInputCase &t) {
          t.OpenByKey();
          ClickOn(GetDlgItem(t.dialog, IDC_INSTALL));
          t.AnswerDoneByKey();
      },
      true, false },
    { "Esc ignored, then Space on the focused button",
      [](RealInputCase &t) {
          t.OpenByKey();
          TypeInto(t.dialog, "key Escape");
          EXPECT_FALSE(WaitUntil(300, [&] { return !IsWindow(t.dialog) || LogText(t.dialog) != Welcome(t.game.dir); }));
          TypeInto(t.dialog, "key space");
          t.AnswerDoneByKey();
      },
      true, false },
    { "Tab in template order",
      [](RealInputCase &t) {
          t.OpenByKey();
          // The picture is no tab stop.
          for (int id : { IDC_CANCEL, IDC_STATUS, IDC_INSTALL }) {
              TypeInto(t.dialog, "key Tab");
              EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return Focus(t.dialog) == GetDlgItem(t.dialog, id); })) << id;
          }
      },
      false, false },
    { "Alt+F4 ends the program",
      [](RealInputCase &t) {
          t.OpenByKey();
          TypeInto(t.dialog, "key alt+F4");
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
