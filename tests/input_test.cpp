// A player's keys and clicks as the X server delivers them (XTEST), through
// the dialog manager's keyboard road, a held key's autorepeat included.
#include "harness.h"

namespace {

// A key held down in a window, let go of when the case ends, however it ends.
struct HeldKey {
    const char *key;
    HeldKey(HWND window, const char *k) : key(k) { TypeInto(window, (std::string("keydown ") + key).c_str()); }
    ~HeldKey() { RealInput((std::string("keyup ") + key).c_str()); }
};

class RealInputCase : public Updater {
public:
    HWND dialog = NULL;
    bool Done() { return LogText(dialog) == Welcome(game.dir) + FULL_RUN_LOG; }
    // Starts the program; its description box.
    HWND Description()
    {
        Start();
        return WaitForDialog(process.dwProcessId, DESCRIPTION_CAPTION, WAIT_MS, "Usunięte");
    }
};

// What the player does, after which the game is updated once and no more.
struct InputCase {
    const char *name;
    void (*play)(RealInputCase &);
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
          ASSERT_TRUE(WaitUntil(WAIT_MS, [&] { return !FindDialog(t.process.dwProcessId, DONE_CAPTION); }));
          // The key still repeats into the window for a while.
          EXPECT_FALSE(WaitUntil(1500, [&] { return !t.Done(); })) << LogText(t.dialog);
      } },
    { "Esc ignored, then a mouse click on Instaluj",
      [](RealInputCase &t) {
          // The description box answered by a key; the window, "Instaluj" focused.
          HWND box = t.Description();
          ASSERT_TRUE(box);
          TypeInto(box, "key Return");
          t.dialog = WaitForDialog(t.process.dwProcessId, INSTALLER_CAPTION);
          ASSERT_TRUE(t.dialog && WaitUntil(WAIT_MS, [&] { return LogText(t.dialog) == Welcome(t.game.dir); }));
          ASSERT_TRUE(WaitUntil(WAIT_MS, [&] {
              GUITHREADINFO gui = { sizeof gui };
              return GetGUIThreadInfo(GetWindowThreadProcessId(t.dialog, NULL), &gui) && gui.hwndFocus == GetDlgItem(t.dialog, IDC_INSTALL);
          }));
          TypeInto(t.dialog, "key Escape");
          EXPECT_FALSE(WaitUntil(300, [&] { return !IsWindow(t.dialog) || LogText(t.dialog) != Welcome(t.game.dir); }));
          ClickOn(GetDlgItem(t.dialog, IDC_INSTALL));
      } },
};

TEST_F(RealInputCase, TheKeysAndMouseOfAPlayerDoWhatTheyShow)
{
    for (const InputCase &c : INPUT_CASES) {
        SCOPED_TRACE(c.name);
        UseGame(GAME_DIR);
        dialog = NULL;
        c.play(*this);
        ASSERT_TRUE(dialog);
        // The completion box answered by a key, where it still stands.
        if (HWND box = WaitForDialog(process.dwProcessId, DONE_CAPTION, Done() ? 0 : WAIT_MS)) {
            TypeInto(box, "key Return");
            EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return !FindDialog(process.dwProcessId, DONE_CAPTION); }));
        }
        EXPECT_FALSE(WaitUntil(300, [&] { return !Done(); })) << LogText(dialog);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_INSTALL)));
        ExpectSteps(4);
        EXPECT_EQ(CloseByCloseBox(dialog), 0u);
    }
}

}  // namespace
