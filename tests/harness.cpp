#include "harness.h"

#include <tlhelp32.h>

std::string g_exe;

std::string Welcome(const std::string &dir)
{
    return "Witamy w uaktualnieniu do gry ValtheriaIII (uakt.1)\r\n\r\n"
           "Katalog, w którym zainstalowana jest gra: " + dir + "\r\n";
}

std::string StoppedAt(int step)
{
    std::string log = "\r\n";
    for (int done = 1; done < step; done++)
        log += "Krok " + std::to_string(done) + "... OK\r\n";
    return log + "Krok " + std::to_string(step) + "... błąd!\r\n";
}

// The Unix path of a Windows path, quoted for a Linux command line.
static std::wstring UnixPath(const std::string &path)
{
    typedef char *(CDECL * UnixFileName)(LPCWSTR);
    auto unixFileName = (UnixFileName)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    wchar_t wide[1024];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, 1024);
    char *unix = unixFileName(wide);
    MultiByteToWideChar(CP_UTF8, 0, unix, -1, wide, 1024);
    HeapFree(GetProcessHeap(), 0, unix);
    return L"\"" + std::wstring(wide) + L"\"";
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

void RemoveEmptyFolderFromLinux(const std::string &folder)
{
    RunLinuxProgram(L"/bin/rmdir " + UnixPath(folder));
    EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return !Exists(folder); })) << folder;
}

Entries Snapshot(const std::string &dir, bool bytes, Entries out)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found)) {
        std::string name = found.cFileName, path = dir + "\\" + name;
        bool folder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        if (name == "." || name == "..")
            continue;
        out[path] = folder ? "dir" : bytes ? Read(path) : std::to_string(found.nFileSizeLow) + " " +
                                       std::to_string(found.ftLastWriteTime.dwLowDateTime);
        if (folder && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            out = Snapshot(path, bytes, out);
    }
    FindClose(h);
    return out;
}

std::set<std::string> Changes(const Entries &before, const Entries &after)
{
    std::set<std::string> changed;
    for (auto &b : before)
        if (!after.count(b.first) || after.at(b.first) != b.second)
            changed.insert((after.count(b.first) ? "* " : "- ") + b.first);
    for (auto &a : after)
        if (!before.count(a.first))
            changed.insert("+ " + a.first);
    return changed;
}

unsigned long long Fnv1a(const char *bytes, size_t length)
{
    unsigned long long hash = 14695981039346656037ull;
    for (size_t i = 0; i < length; i++)
        hash = (hash ^ (unsigned char)bytes[i]) * 1099511628211ull;
    return hash;
}

double Milliseconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

void Spin(double ms)
{
    for (double start = Milliseconds(); Milliseconds() - start < ms;) {
    }
}

void Freeze(const PROCESS_INFORMATION &program, bool frozen)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = { sizeof entry };
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == program.dwProcessId && entry.th32ThreadID != program.dwThreadId) {
            HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
            frozen ? SuspendThread(thread) : ResumeThread(thread);
            CloseHandle(thread);
        }
    CloseHandle(snapshot);
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

// Where a box did not come: whether the program still runs.
static std::string ProgramState(const PROCESS_INFORMATION &process)
{
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return code == STILL_ACTIVE ? "it runs" : "it ended with " + std::to_string(code);
}

// The first box a group misses has the group's state kept beside Wine's
// error lines (tools/test-group takes it while the program still waits).
static void KeepEvidence(const std::string &what)
{
    static bool kept = false;
    char folder[MAX_PATH];
    if (kept || !GetEnvironmentVariableA("UPDATER_EVIDENCE", folder, sizeof folder))
        return;
    kept = true;
    std::string marker = std::string(folder) + "\\box-missing";
    if (WriteBytes(marker, what))
        WaitUntil(WAIT_MS, [&] { return !Exists(marker); });
}

void Updater::Answer(const char *caption, const char *text)
{
    // A box can show for a moment before its caption is set.
    HWND box = NULL;
    bool shown = WaitUntil(WAIT_MS, [&] { return (box = FindDialog(process.dwProcessId, NULL, "")) && !WindowText(box).empty(); });
    std::string state = shown ? "" : ProgramState(process);
    if (!shown)
        KeepEvidence(std::string(caption) + "; " + state);
    ASSERT_TRUE(shown) << "no message box; expected \"" << caption << "\"; " << state;
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

void Updater::ExpectCompleted(HWND dialog, const std::string &logBefore)
{
    Answer(DONE_CAPTION, DONE_TEXT);
    EXPECT_EQ(LogText(dialog), logBefore + FULL_RUN_LOG);
}

void Updater::Install(HWND dialog, const std::string &logBefore)
{
    PressButton(dialog, IDC_INSTALL);
    ExpectCompleted(dialog, logBefore);
    ExpectSteps(4);
}

void Updater::ExpectCalledUpdated()
{
    Start();
    Answer(DESCRIPTION_CAPTION, DESCRIPTION_TEXT);
    Answer(CHECKS_CAPTION, ALREADY_TEXT);
    ExpectEndWithoutWindow();
}

void Updater::ExpectEndWithoutWindow()
{
    bool ended = WaitUntil(WAIT_MS, [&] {
        EXPECT_EQ(FindDialog(process.dwProcessId, NULL), (HWND)NULL) << "a window after the last box";
        return WaitForExit(process, 0);
    });
    EXPECT_TRUE(ended) << "the program did not end";
}

bool Updater::ShowsStep(HWND dialog, const std::string &step, const std::string &shown)
{
    std::string log = LogText(dialog);
    return log.size() > step.size() && log.compare(log.size() - step.size(), step.size(), step) == 0 && OnDisk() == shown;
}

void Updater::ExpectStopped(HWND dialog, const std::string &log)
{
    EXPECT_TRUE(WaitUntil(WAIT_MS, [&] { return LogText(dialog) == log && IsWindowEnabled(GetDlgItem(dialog, IDC_INSTALL)); }))
        << LogText(dialog);
}

// The close box does nothing while the window is disabled: repeated.
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

std::string IniPlace(int unit, int place)
{
    const char *dirs[] = { unit ? ARMY_DIR_WRONG : LEADER_DIR_WRONG, unit ? ARMY_DIR_RIGHT : LEADER_DIR_RIGHT };
    const char *names[] = { unit ? ARMY_INI_WRONG : LEADER_INI_WRONG, unit ? ARMY_INI_RIGHT : LEADER_INI_RIGHT };
    return std::string(dirs[place > 0]) + names[place > 1];
}

std::string Updater::OnDisk()
{
    std::string state;
    for (int unit = 0; unit < 2; unit++) {
        char place = 0;
        for (int i = 0; i < 3; i++)
            if (Exists(game.dir + IniPlace(unit, i)))
                place = place || File(IniPlace(unit, i)) != (unit ? game.armyIni : game.leaderIni) ? '?' : '0' + i;
        state += std::string(1, place ? place : '?') + " ";
    }
    auto text = [&](const char *suffix, const std::string &old, const std::string &now) {
        std::string bytes = File(suffix);
        return (bytes == old ? "old" : bytes == now ? "new" : "torn") + std::string(Exists(game.dir + suffix + TMP) ? "+tmp" : "");
    };
    return state + text(SETTLER_INI, game.settlerIni, SETTLER_NEW) + " " + text(WORKER_INI, game.workerIni, WORKER_NEW);
}

std::string Updater::Steps(int n)
{
    const char *const STATES[] = { "0 0 old old", "2 0 old old", "2 2 old old", "2 2 old old", "2 2 new new" };
    return STATES[n];
}

// "--desktop", before a group's tests: the prefix's desktop process,
// which draws every window, started and waited for as long as it takes,
// then a window made. Wine's own start of it, at a session's first window,
// waits ten seconds; one that came later (seen in the emulated PC under
// load) left the session without a display for every program after.
static int StartDesktop()
{
    STARTUPINFOA startup = { sizeof startup };
    PROCESS_INFORMATION desktop;
    char commandLine[] = "C:\\windows\\system32\\explorer.exe /desktop";
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &startup, &desktop))
        return 1;
    DWORD idle = WaitForInputIdle(desktop.hProcess, 10 * WAIT_MS);
    CloseHandle(desktop.hProcess);
    CloseHandle(desktop.hThread);
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    printf("the desktop: %s; a window: %s\n", idle == 0 ? "ready" : "not ready in 5 min", window ? "made" : "none");
    return window && DestroyWindow(window) ? 0 : 1;
}

// The first argument not GoogleTest's: the exe under test, a Unix path.
int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "--desktop") == 0)
        return StartDesktop();
    testing::InitGoogleTest(&argc, argv);
    // Each look at the windows costs the program a turn at Wine's server.
    if (RunsEmulated())
        g_pollMs = 30;
    if (argc > 1)
        g_exe = WindowsPathFromUnix(argv[1]);
    return RUN_ALL_TESTS();
}
