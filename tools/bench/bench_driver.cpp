// The benchmark's hands and stopwatch inside Wine.
//   bench_driver texts DIR               writes the two corrected INI texts
//   bench_driver measure GAME N KIND=EXE...
//       N rounds; in each, every program is started once and timed from
//       launch to its first visible window, then once more for its whole
//       road on a fresh sample game (KIND: updater, peer or floor). The
//       programs take turns, so that a slow moment of the machine falls on
//       all of them alike. Prints one line of figures per program, in
//       microseconds and bytes.
#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <stdio.h>
#include <string.h>
#include <vector>

#include "resources/resource.h"
#include "tools/driver/updater_driver.h"
#include "update/unit_ini_texts.h"

static LARGE_INTEGER g_frequency;

static LONGLONG Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000000 / g_frequency.QuadPart;
}

// Waits for the first dialog-class window of pid, looking every
// millisecond: a busier poll would slow the very start it times.
static HWND WaitFirstWindow(DWORD pid)
{
    DWORD start = GetTickCount();
    HWND found = NULL;
    while (!(found = FindDialog(pid, NULL)) && GetTickCount() - start < WAIT_MS)
        Sleep(1);
    return found;
}

static SIZE_T PeakWorkingSet(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = { sizeof counters };
    return GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

// One start, timed from launch to the first window; -1 when none came.
static LONGLONG TimeFirstWindow(const std::string &exe)
{
    PROCESS_INFORMATION process;
    LONGLONG start = Now();
    if (!StartProgram(exe, &process))
        return -1;
    HWND first = WaitFirstWindow(process.dwProcessId);
    LONGLONG took = Now() - start;
    EndProcess(process);
    return first ? took : -1;
}

// Answers a message box of the process, whichever it is, and returns it.
static HWND AnswerBox(const PROCESS_INFORMATION &process, const char *caption)
{
    HWND box = WaitForDialog(process.dwProcessId, caption);
    if (box)
        CloseMessageBox(box);
    return box;
}

// One whole road as a player would go it; -1 when it did not finish.
static LONGLONG TimeRoad(const std::string &kind, const std::string &exe, const std::string &game, SIZE_T *peak)
{
    MakeSampleGame(game);
    SetInstallPath(game);
    PROCESS_INFORMATION process;
    LONGLONG start = Now();
    if (!StartProgram(exe, &process))
        return -1;
    bool ok = true;
    if (kind == "floor") {
        ok = AnswerBox(process, "Floor") != NULL;
    } else if (kind == "updater") {
        ok = AnswerBox(process, DESCRIPTION_CAPTION) != NULL;
        HWND dialog = ok ? WaitForDialog(process.dwProcessId, INSTALLER_CAPTION) : NULL;
        ok = dialog && (PressButton(dialog, IDC_INSTALL), AnswerBox(process, DONE_CAPTION) != NULL);
        if (ok) {
            *peak = std::max(*peak, PeakWorkingSet(process.hProcess));
            PressButton(dialog, IDC_CANCEL);
        }
    } else {
        // The peer: its boxes share its window's caption, and it installs
        // as soon as its window opens; "Zamknij" ends it.
        HWND box = WaitForDialog(process.dwProcessId, NULL, WAIT_MS, "Usunięte");
        if (box)
            CloseMessageBox(box);
        HWND done = box ? WaitForDialog(process.dwProcessId, NULL, WAIT_MS, "poprawnie") : NULL;
        ok = done != NULL;
        if (ok) {
            HWND main = GetWindow(done, GW_OWNER);
            CloseMessageBox(done);
            *peak = std::max(*peak, PeakWorkingSet(process.hProcess));
            DWORD closeStart = GetTickCount();
            while (main && !WaitForExit(process, 1, NULL) && GetTickCount() - closeStart < WAIT_MS)
                if (IsWindowEnabled(GetDlgItem(main, IDOK)))
                    PostMessageA(main, WM_COMMAND, IDOK, 0);
        }
    }
    ok = ok && WaitForExit(process, WAIT_MS, NULL);
    LONGLONG took = Now() - start;
    EndProcess(process);
    return ok ? took : -1;
}

struct Program {
    std::string kind, exe;
    std::vector<LONGLONG> first, road;
    SIZE_T peak;
};

static void PrintFigures(const char *what, std::vector<LONGLONG> &times)
{
    std::sort(times.begin(), times.end());
    size_t n = times.size();
    printf(" %s_median=%lld %s_min=%lld %s_p90=%lld", what, times[n / 2], what, times[0], what,
           times[std::min(n - 1, (n * 9) / 10)]);
}

static int Measure(const std::string &game, int rounds, int count, char **programs)
{
    std::vector<Program> all;
    for (int i = 0; i < count; i++) {
        std::string arg = programs[i];
        size_t eq = arg.find('=');
        if (eq == std::string::npos)
            return 2;
        all.push_back(Program{ arg.substr(0, eq), WindowsPathFromUnix(arg.substr(eq + 1).c_str()), {}, {}, 0 });
    }
    // A first, unmeasured round warms the file cache and Wine.
    for (int round = -1; round < rounds; round++)
        for (Program &p : all) {
            SIZE_T peak = 0;
            LONGLONG road = TimeRoad(p.kind, p.exe, game, &peak);
            MakeSampleGame(game);
            LONGLONG first = TimeFirstWindow(p.exe);
            if (first < 0 || road < 0) {
                fprintf(stderr, "bench: %s did not get through (%s)\n", p.kind.c_str(), first < 0 ? "start" : "road");
                return 1;
            }
            if (round >= 0) {
                p.first.push_back(first);
                p.road.push_back(road);
                p.peak = std::max(p.peak, peak);
            }
        }
    for (Program &p : all) {
        printf("%s", p.kind.c_str());
        PrintFigures("first", p.first);
        PrintFigures("road", p.road);
        printf(" peak_ws=%lu\n", (unsigned long)p.peak);
    }
    return 0;
}

int main(int argc, char **argv)
{
    QueryPerformanceFrequency(&g_frequency);
    // The roads' waits look every 5 ms: often enough to time them, seldom
    // enough not to slow the programs they watch; in the emulated PC, where
    // the times only show that the road goes, every 30 ms.
    g_pollMs = GetEnvironmentVariableA("UPDATER_IN_VM", NULL, 0) ? 30 : 5;
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "texts" && argc == 3) {
        std::string dir = WindowsPathFromUnix(argv[2]);
        bool ok = WriteBytes(dir + "\\settler.ini", std::string(SETTLER_INI_TEXT, SETTLER_INI_LENGTH)) &&
                  WriteBytes(dir + "\\worker.ini", std::string(WORKER_INI_TEXT, WORKER_INI_LENGTH));
        return ok ? 0 : 1;
    }
    if (mode == "measure" && argc >= 5)
        return Measure(argv[2], atoi(argv[3]), argc - 4, argv + 4);
    fprintf(stderr, "usage: see the top of bench_driver.cpp\n");
    return 2;
}
