// Helpers shared by the tests and the demo driver: the sample game on disk,
// the registry entry, and driving the updater's windows from outside.
#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

#include <windows.h>
#include <string>

// The updater exe as a Windows path; set from the command line.
extern std::string g_updaterExe;
std::string WindowsPathFromUnix(const char *path);

// Files.
bool WriteBytes(const std::string &path, const std::string &bytes);
bool ReadBytes(const std::string &path, std::string *bytes);
bool Exists(const std::string &path);
bool IsFolder(const std::string &path);
void RemoveTree(const std::string &path);
void MakeFolders(const std::string &path);
// Fills the drive of dir so that only freeBytes stay free (in whole blocks),
// through a file dir\filler; false when the filler cannot be made.
bool FillDriveLeaving(const std::string &dir, size_t freeBytes);

// The game as its setup leaves it, before the update.
struct SampleGame {
    std::string dir;
    std::string leaderIni, armyIni, settlerIni, workerIni;  // original contents
};
SampleGame MakeSampleGame(const std::string &dir);
std::string PristineSettlerText();

// Paths under the game folder, as the game and the update name them.
extern const char LEADER_DIR_WRONG[], LEADER_DIR_RIGHT[], LEADER_INI_WRONG[], LEADER_INI_RIGHT[];
extern const char ARMY_DIR_WRONG[], ARMY_DIR_RIGHT[], ARMY_INI_WRONG[], ARMY_INI_RIGHT[];
extern const char SETTLER_INI[], WORKER_INI[];

// The registry entry of the game's setup.
bool SetInstallPath(const std::string &folder);
// As a setup would leave it: by the reg tool, in the 32-bit view.
bool SetInstallPathWithReg(const std::string &folder);
bool SetInstallValue(DWORD type, const void *data, DWORD size);
void DeleteGameKey();
bool CreateGameKeyOnly();

// Running and driving the updater. Waits poll every g_pollMs milliseconds.
extern DWORD g_pollMs;
bool StartUpdater(PROCESS_INFORMATION *process);
bool WaitForExit(const PROCESS_INFORMATION &process, DWORD timeoutMs, DWORD *exitCode);
void EndProcess(PROCESS_INFORMATION &process);
// A visible dialog-class window of pid with this caption, or with any when null.
HWND FindDialog(DWORD pid, const char *caption);
HWND WaitForDialog(DWORD pid, const char *caption, DWORD timeoutMs);
// A message box of pid whose text holds the given words, whatever its caption.
HWND WaitForBoxSaying(DWORD pid, const char *words, DWORD timeoutMs);
std::string WindowText(HWND window);
std::string MessageBoxText(HWND box);
void CloseMessageBox(HWND box);
void PressButton(HWND dialog, int id);
bool IsButtonEnabled(HWND dialog, int id);
bool WaitForButtonEnabled(HWND dialog, int id, DWORD timeoutMs);
std::string LogText(HWND dialog);
bool WaitForLogEnd(HWND dialog, const std::string &ending, DWORD timeoutMs);
int ThreadCount(DWORD pid);
bool SaveScreenshot(HWND window, const std::string &bmpPath);

extern const char INSTALLER_CAPTION[], DESCRIPTION_CAPTION[], CHECKS_CAPTION[], DONE_CAPTION[];
extern const char DESCRIPTION_TEXT[], NO_GAME_TEXT[], ALREADY_TEXT[], DONE_TEXT[];

#endif
