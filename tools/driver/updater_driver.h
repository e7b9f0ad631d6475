// Plays the player's part from outside the updater: the sample game and its
// registry entry, starting the exe, finding its windows by caption,
// answering boxes, pressing buttons and reading the log. Shared by the
// tests, the demo and the benchmark.
#ifndef UPDATER_DRIVER_H
#define UPDATER_DRIVER_H

#include <windows.h>
#include <string>

static const DWORD WAIT_MS = 30000;
// How often the waits look, in milliseconds.
extern DWORD g_pollMs;

// Polls until done() holds or timeoutMs pass; true when it held.
template <typename Condition> bool WaitUntil(DWORD timeoutMs, Condition done)
{
    for (DWORD start = GetTickCount(); !done(); Sleep(g_pollMs))
        if (GetTickCount() - start > timeoutMs)
            return false;
    return true;
}

std::string WindowsPathFromUnix(const char *path);
bool WriteBytes(const std::string &path, const std::string &bytes);
// The file's bytes, or "<missing>".
std::string Read(const std::string &path);
bool Exists(const std::string &path);
void RemoveTree(const std::string &path);
void MakeFolders(const std::string &path);

// Paths under the game folder, as the game and the update name them.
extern const char LEADER_DIR_WRONG[], LEADER_DIR_RIGHT[], LEADER_INI_WRONG[], LEADER_INI_RIGHT[];
extern const char ARMY_DIR_WRONG[], ARMY_DIR_RIGHT[], ARMY_INI_WRONG[], ARMY_INI_RIGHT[];
extern const char SETTLER_INI[], WORKER_INI[];

// The game as its setup leaves it, before the update: original contents.
struct SampleGame {
    std::string dir, leaderIni, armyIni, settlerIni, workerIni;
};
SampleGame MakeSampleGame(const std::string &dir);

// The registry entry of the game's setup.
bool SetInstallValue(DWORD type, const void *data, DWORD size);
bool SetInstallPath(const std::string &folder);
void DeleteGameKey();

// The updater's windows and texts.
extern const char INSTALLER_CAPTION[], DESCRIPTION_CAPTION[], CHECKS_CAPTION[], DONE_CAPTION[];
extern const char DESCRIPTION_TEXT[], NO_GAME_TEXT[], ALREADY_TEXT[], DONE_TEXT[];

bool StartProgram(const std::string &exe, PROCESS_INFORMATION *process);
bool WaitForExit(const PROCESS_INFORMATION &process, DWORD timeoutMs, DWORD *exitCode = NULL);
// Ends the process if it still runs, and closes its handles.
void EndProcess(PROCESS_INFORMATION &process);
// A visible dialog-class window of pid with this caption (any when null),
// and when saying is given, a message box whose text holds those words.
HWND FindDialog(DWORD pid, const char *caption, const char *saying = NULL);
HWND WaitForDialog(DWORD pid, const char *caption, DWORD timeoutMs = WAIT_MS, const char *saying = NULL);
std::string WindowText(HWND window);
std::string MessageBoxText(HWND box);
void CloseMessageBox(HWND box);
void PressButton(HWND dialog, int id);
std::string LogText(HWND dialog);

// Runs a Linux program from inside Wine; Wine does not tell when it ends,
// so the caller waits for what it does.
void RunLinuxProgram(const std::wstring &commandLine);
// The player's own keyboard and mouse: xdotool's XTEST events on the X
// server Wine draws on, e.g. "key Return", "mousemove 100 200 click 1".
void RealInput(const char *xdotoolArguments);
// The centre of a control on the screen, as "X Y" for xdotool.
std::string ScreenCentre(HWND control);
// Without a window manager, Wine itself hands the X keyboard focus to the
// window it activates, and the X server sometimes ignores it (the request
// carries an older time than the last change); keys then go to the window
// that had it. This gives the focus to the X window behind a Windows
// window, as a window manager would when it appears: an xdotool command,
// to put before the keys in the same call.
std::string XFocusTo(HWND window);
// Keys typed into a window once it is the one that takes them, the X focus
// given to it and the pointer over it as a player's hand is. keys:
// xdotool's, e.g. "key Return".
void TypeInto(HWND window, const char *keys);
// A click at the centre of a control, the pointer moved there first.
void ClickOn(HWND control);

#endif
