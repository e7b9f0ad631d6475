#include "harness.h"

#include <string.h>

std::string g_exe;

std::string Welcome(const std::string &dir)
{
    return "Witamy w uaktualnieniu do gry ValtheriaIII (uakt.1)\r\n\r\n"
           "Katalog, w którym zainstalowana jest gra: " + dir + "\r\n";
}

// The Unix path of a Windows path, and a Linux command run with such paths.
static std::wstring Wide(const std::string &text, UINT codePage)
{
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(codePage, 0, text.c_str(), -1, &wide[0], (int)wide.size()) - 1);
    return wide;
}
static std::wstring UnixPath(const std::string &path)
{
    typedef char *(CDECL * UnixFileName)(LPCWSTR);
    auto unixFileName = (UnixFileName)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    char *unix = unixFileName(Wide(path, CP_ACP).c_str());
    std::wstring result = L"\"" + Wide(unix, CP_UTF8) + L"\"";
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

bool PlantLink(const std::string &link, const std::string &target)
{
    RunLinuxProgram(L"/bin/ln -sfn " + UnixPath(target) + L" " + UnixPath(link));
    return WaitUntil(WAIT_MS, [&] { return Exists(link); });
}

void RemoveLink(const std::string &link)
{
    RunLinuxProgram(L"/bin/rm -f " + UnixPath(link));
    EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return !Exists(link); })) << link;
}

void Snapshot(const std::string &dir, std::map<std::string, std::string> &out, bool bytes)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found)) {
        std::string name = found.cFileName, path = dir + "\\" + name;
        if (name == "." || name == "..")
            continue;
        bool folder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        out[path] = folder ? "dir" : bytes ? Read(path) : testing::PrintToString(found.nFileSizeLow) + " " +
                                       testing::PrintToString(found.ftLastWriteTime.dwLowDateTime);
        if (folder && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            Snapshot(path, out, bytes);
    }
    FindClose(h);
}

std::set<std::string> Changes(std::map<std::string, std::string> &before, std::map<std::string, std::string> &after)
{
    std::set<std::string> changed;
    for (auto &b : before)
        if (!after.count(b.first) || after[b.first] != b.second)
            changed.insert((after.count(b.first) ? "* " : "- ") + b.first);
    for (auto &a : after)
        if (!before.count(a.first))
            changed.insert("+ " + a.first);
    return changed;
}

LONGLONG Microseconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000000 / frequency.QuadPart;
}

bool RunsEmulated()
{
    return GetEnvironmentVariableA("UPDATER_IN_VM", NULL, 0) != 0;
}

void ReportWindows(const char *version)
{
    std::string key = "Software\\Wine\\AppDefaults\\" + std::string(strrchr(g_exe.c_str(), '\\') + 1);
    if (version)
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "Version", REG_SZ, version, (DWORD)strlen(version) + 1), 0);
    else
        RegDeleteKeyValueA(HKEY_CURRENT_USER, key.c_str(), "Version");
}

void Updater::SetUp()
{
    ASSERT_FALSE(g_exe.empty()) << "give the exe under test as the first argument";
    UseGame(GAME_DIR);
}

void Updater::TearDown()
{
    EndProcess(process);
    ReportWindows(NULL);
    DeleteGameKey();
}

void Updater::UseGame(const std::string &dir)
{
    game = MakeSampleGame(dir);
    ASSERT_TRUE(SetInstallPath(dir));
}

void Updater::Start(const std::string &exe)
{
    EndProcess(process);
    ASSERT_TRUE(StartProgram(exe, &process));
}

void Updater::Answer(const char *caption, const char *text)
{
    // A box can show for a moment before its caption is set.
    HWND box = NULL;
    bool shown = WaitUntil(WAIT_MS, [&] {
        box = FindDialog(process.dwProcessId, NULL, "");
        return box && !WindowText(box).empty();
    });
    ASSERT_TRUE(shown) << "no message box; expected \"" << caption << "\"";
    ASSERT_EQ(WindowText(box), caption);
    EXPECT_EQ(MessageBoxText(box), text);
    CloseMessageBox(box);
    EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return !IsWindowVisible(box); }));
}

HWND Updater::OpenInstaller(const std::string &exe)
{
    Start(exe);
    Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
    HWND dialog = WaitForDialog(process.dwProcessId, INSTALLER_CAPTION);
    EXPECT_TRUE(dialog && WaitUntil(WAIT_MS, [&] { return LogText(dialog) == Welcome(game.dir); }))
        << (dialog ? LogText(dialog) : "no window");
    return dialog;
}

void Updater::ExpectEndWithoutWindow()
{
    bool ended = WaitUntil(WAIT_MS, [&] {
        EXPECT_EQ(FindDialog(process.dwProcessId, NULL), (HWND)NULL) << "a window after the last box";
        return WaitForExit(process, 0);
    });
    EXPECT_TRUE(ended) << "the program did not end";
}

// The close box does nothing while the window is disabled (its completion
// box is open, or it is closing), so the close is repeated until it ends.
DWORD Updater::CloseByCloseBox(HWND dialog)
{
    DWORD exitCode = 0xDEAD, posted = 0;
    bool ended = WaitUntil(WAIT_MS, [&] {
        if (HWND done = FindDialog(process.dwProcessId, DONE_CAPTION))
            CloseMessageBox(done);
        else if (GetTickCount() - posted > 100 && IsWindowEnabled(dialog)) {
            PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            posted = GetTickCount();
        }
        return WaitForExit(process, 0, &exitCode);
    });
    EXPECT_TRUE(ended) << "the program did not end";
    return exitCode;
}

int Updater::Place(int unit)
{
    const char *dirWrong = unit ? ARMY_DIR_WRONG : LEADER_DIR_WRONG, *dirRight = unit ? ARMY_DIR_RIGHT : LEADER_DIR_RIGHT;
    const char *iniWrong = unit ? ARMY_INI_WRONG : LEADER_INI_WRONG, *iniRight = unit ? ARMY_INI_RIGHT : LEADER_INI_RIGHT;
    std::string places[] = { std::string(dirWrong) + iniWrong, std::string(dirRight) + iniWrong,
                             std::string(dirRight) + iniRight };
    int found = -1, count = 0;
    for (int i = 0; i < 3; i++)
        if (Exists(game.dir + places[i])) {
            found = i;
            count++;
            EXPECT_EQ(File(places[i]), unit ? game.armyIni : game.leaderIni) << places[i];
        }
    return count == 1 ? found : -1;
}

int Updater::StepsOnDisk()
{
    int leader = Place(0), army = Place(1);
    EXPECT_NE(leader, -1);
    EXPECT_NE(army, -1);
    std::string settler = File(SETTLER_INI), worker = File(WORKER_INI);
    EXPECT_TRUE(settler == game.settlerIni || settler == SETTLER_NEW) << "settler: " << settler.size() << " bytes";
    EXPECT_TRUE(worker == game.workerIni || worker == WORKER_NEW) << "worker: " << worker.size() << " bytes";
    int steps[] = { leader == 2, army == 2, settler == SETTLER_NEW, worker == WORKER_NEW };
    int n = 0;
    while (n < 4 && steps[n])
        n++;
    return n;
}

void Updater::ExpectState(int leader, int army, int rewritten)
{
    EXPECT_EQ(Place(0), leader);
    EXPECT_EQ(Place(1), army);
    EXPECT_EQ(File(SETTLER_INI), rewritten >= 1 ? SETTLER_NEW : game.settlerIni);
    EXPECT_EQ(File(WORKER_INI), rewritten >= 2 ? WORKER_NEW : game.workerIni);
    EXPECT_FALSE(Exists(game.dir + SETTLER_INI + ".tmp"));
    EXPECT_FALSE(Exists(game.dir + WORKER_INI + ".tmp"));
}

// The first argument that is not a GoogleTest flag names the exe under test
// (a Unix path, as CTest gives it).
int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    // Each look at the windows is a round of calls to Wine's server, which
    // the program under test waits on too; in the emulated PC they cost.
    if (RunsEmulated())
        g_pollMs = 30;
    if (argc > 1)
        g_exe = WindowsPathFromUnix(argv[1]);
    return RUN_ALL_TESTS();
}
