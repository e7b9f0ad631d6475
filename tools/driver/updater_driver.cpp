#include "updater_driver.h"

#include <stdio.h>
#include <string.h>

#include "resources/resource.h"

DWORD g_pollMs = 10;

const char INSTALLER_CAPTION[] = "Valtheria III (PL) - Uaktualnienie 1";
const char DESCRIPTION_CAPTION[] = "ValtheriaIII (PL) - uaktualnienie";
const char CHECKS_CAPTION[] = "ValtheriaIII - Uaktualnienie 1";
const char DONE_CAPTION[] = "ValtheriaIII";
const char DESCRIPTION_TEXT[] =
    "Uaktualnienie do gry ValtheriaIII (PL)\n\nUsunięte błędy:\n\n"
    "- Błąd sygnalizowany komunikatem o braku pliku Przywódca.ini\n"
    "- Gra wychodziła do systemu z komunikatem Windows:\n\n"
    "VALTHERIA3 spowodował błąd: nieprawidłowa strona w\nmodule VALTHERIA3.EXE przy 'adres'\n\n"
    "gdzie adresem najczęściej jest liczba postaci 004030d3.\n";
const char NO_GAME_TEXT[] =
    "Brak wpisów gry ValtheriaIII w rejestrze systemowym.\nZainstaluj grę przed uruchomieniem uaktualnienia.";
const char ALREADY_TEXT[] = "Uaktualnienie jest już zainstalowane.";
const char DONE_TEXT[] = "Uaktualnienie zostało zainstalowane poprawnie.";

const char LEADER_DIR_WRONG[] = "\\Art\\Units\\Przywódca Średiowiecze";
const char LEADER_DIR_RIGHT[] = "\\Art\\Units\\Przywódca Średniowiecze";
const char LEADER_INI_WRONG[] = "\\Przywódca Średiowiecze.ini";
const char LEADER_INI_RIGHT[] = "\\Przywódca Średniowiecze.ini";
const char ARMY_DIR_WRONG[] = "\\Art\\Units\\Armia Średiowiecze";
const char ARMY_DIR_RIGHT[] = "\\Art\\Units\\Armia Średniowiecze";
const char ARMY_INI_WRONG[] = "\\Armia Średiowiecze.ini";
const char ARMY_INI_RIGHT[] = "\\Armia Średniowiecze.ini";
const char SETTLER_INI[] = "\\Art\\Units\\Osadnik Era Przemysłowa\\Osadnik Era Przemysłowa.ini";
const char WORKER_INI[] = "\\Art\\Units\\Robotnik Era Przemysłowa\\Robotnik Era Przemysłowa.ini";

static const char GAME_KEY[] = "SOFTWARE\\Korvane Interactive\\Valtheria III";

std::string WindowsPathFromUnix(const char *path)
{
    std::string result = path;
    if (!result.empty() && result[0] == '/')
        result = "Z:" + result;
    for (char &c : result)
        if (c == '/')
            c = '\\';
    return result;
}

bool WriteBytes(const std::string &path, const std::string &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    size_t n = fwrite(bytes.data(), 1, bytes.size(), f);
    return fclose(f) == 0 && n == bytes.size();
}

// Read as a scanner reads, sharing everything: also a file the updater
// holds open while it works on it.
std::string Read(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string bytes;
    char buffer[4096];
    DWORD n;
    while (ReadFile(file, buffer, sizeof buffer, &n, NULL) && n > 0)
        bytes.append(buffer, n);
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            // A link to a folder elsewhere is not followed.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                continue;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

void MakeFolders(const std::string &path)
{
    for (size_t i = 3; i <= path.size(); i++)
        if (i == path.size() || path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), NULL);
}

// An INI in the game's style, padded with a comment to an exact length.
static std::string UnitIni(const char *unit, size_t length)
{
    std::string text = "[Speed]\r\nNormal Speed=225\r\nFast Speed=225\r\n\r\n[Animations]\r\nDEFAULT=..\\";
    text += unit;
    text += "\\Default.flc\r\n[Version]\r\nVERSION=1\r\n;";
    while (text.size() < length - 2)
        text += '-';
    text += "\r\n";
    return text;
}

SampleGame MakeSampleGame(const std::string &dir)
{
    SampleGame game;
    game.dir = dir;
    game.leaderIni = UnitIni("Przywódca Średiowiecze", 700);
    game.armyIni = UnitIni("Armia Średiowiecze", 640);
    game.settlerIni = UnitIni("Osadnik Era Przemysłowa", 1654);
    game.workerIni = UnitIni("Robotnik Era Przemysłowa", 2100);

    RemoveTree(dir);
    MakeFolders(dir + LEADER_DIR_WRONG);
    MakeFolders(dir + ARMY_DIR_WRONG);
    MakeFolders(dir + "\\Art\\Units\\Osadnik Era Przemysłowa");
    MakeFolders(dir + "\\Art\\Units\\Robotnik Era Przemysłowa");
    WriteBytes(dir + LEADER_DIR_WRONG + LEADER_INI_WRONG, game.leaderIni);
    WriteBytes(dir + ARMY_DIR_WRONG + ARMY_INI_WRONG, game.armyIni);
    WriteBytes(dir + SETTLER_INI, game.settlerIni);
    WriteBytes(dir + WORKER_INI, game.workerIni);
    return game;
}

bool SetInstallValue(DWORD type, const void *data, DWORD size)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, GAME_KEY, 0, NULL, 0, KEY_WRITE | KEY_WOW64_32KEY, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExA(key, "INSTALL_PATH", 0, type, (const BYTE *)data, size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

bool SetInstallPath(const std::string &folder)
{
    return SetInstallValue(REG_SZ, folder.c_str(), (DWORD)folder.size() + 1);
}

void DeleteGameKey()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, GAME_KEY);
}

bool StartProgram(const std::string &exe, PROCESS_INFORMATION *process)
{
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + exe + "\"";
    return CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, process) != 0;
}

bool WaitForExit(const PROCESS_INFORMATION &process, DWORD timeoutMs, DWORD *exitCode)
{
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        GetExitCodeProcess(process.hProcess, exitCode);
    return true;
}

void EndProcess(PROCESS_INFORMATION &process)
{
    if (process.hProcess) {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
        }
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    process.hProcess = process.hThread = NULL;
}

struct DialogSearch {
    DWORD pid;
    const char *caption;  // null: any caption
    const char *saying;   // not null: a message box whose text holds these words
    HWND found;
};

static BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    DialogSearch *search = (DialogSearch *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !IsWindowVisible(window))
        return TRUE;
    char className[64], caption[256];
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") != 0)
        return TRUE;
    // For another process's window this reads the caption without sending
    // it a message, so polling does not slow the program watched.
    caption[0] = '\0';
    GetWindowTextA(window, caption, sizeof caption);
    if (search->caption && strcmp(caption, search->caption) != 0)
        return TRUE;
    // A message box has an OK button; the installer window has none, though
    // its picture has the id of a box's text.
    if (search->saying && (!GetDlgItem(window, IDOK) || MessageBoxText(window).find(search->saying) == std::string::npos))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindDialog(DWORD pid, const char *caption, const char *saying)
{
    DialogSearch search = { pid, caption, saying, NULL };
    EnumWindows(MatchDialog, (LPARAM)&search);
    return search.found;
}

HWND WaitForDialog(DWORD pid, const char *caption, DWORD timeoutMs, const char *saying)
{
    HWND found = NULL;
    WaitUntil(timeoutMs, [&] { return (found = FindDialog(pid, caption, saying)) != NULL; });
    return found;
}

std::string WindowText(HWND window)
{
    static char text[65536];
    text[0] = '\0';
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &copied))
        return std::string();
    return std::string(text, copied);
}

std::string MessageBoxText(HWND box)
{
    return WindowText(GetDlgItem(box, 0xFFFF));
}

void CloseMessageBox(HWND box)
{
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
}

void PressButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

std::string LogText(HWND dialog)
{
    return WindowText(GetDlgItem(dialog, IDC_STATUS));
}

void RunLinuxProgram(const std::wstring &commandLine)
{
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    // For a Linux program Wine hands back no process handle, and a stray
    // value as the thread's: closing that could close one of this
    // process's own handles, so nothing is closed without a process.
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    std::wstring line = commandLine;
    if (CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process) && process.hProcess) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
}

void RealInput(const char *xdotoolArguments)
{
    std::string arguments = xdotoolArguments;
    RunLinuxProgram(L"/usr/bin/xdotool " + std::wstring(arguments.begin(), arguments.end()));
}

std::string ScreenCentre(HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    char centre[32];
    sprintf(centre, "%ld %ld", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return centre;
}

std::string XFocusTo(HWND window)
{
    char command[64] = "";
    HWND top = GetAncestor(window, GA_ROOT);
    if (ULONG_PTR xid = (ULONG_PTR)GetPropA(top, "__wine_x11_whole_window"))
        sprintf(command, "windowfocus %lu ", (unsigned long)xid);
    return command;
}

void TypeInto(HWND window, const char *keys)
{
    WaitUntil(WAIT_MS, [&] { return GetForegroundWindow() == GetAncestor(window, GA_ROOT); });
    RealInput((XFocusTo(window) + "mousemove " + ScreenCentre(window) + " " + keys).c_str());
}

void ClickOn(HWND control)
{
    RealInput(("mousemove " + ScreenCentre(control) + " click 1").c_str());
}
