// The demo's helper inside Wine.
//   demo_driver layout GAME_DIR          lays out the sample game, pristine,
//                                        and writes the registry entry
//   demo_driver watch UPDATER_EXE        starts the updater for the person at
//                                        the screen and waits for it to end
//   demo_driver drive UPDATER_EXE SHOTS  plays the player's part with real
//                                        key presses and clicks: answers the
//                                        windows, takes a screenshot of each
//                                        stage and prints the final log
#include <stdio.h>
#include <string.h>

#include "resources/resource.h"
#include "tools/driver/updater_driver.h"

static HWND Expect(const PROCESS_INFORMATION &process, const char *caption)
{
    HWND window = WaitForDialog(process.dwProcessId, caption);
    if (!window)
        fprintf(stderr, "demo: no window \"%s\" appeared\n", caption);
    return window;
}

static bool SaveScreenshot(HWND window, const std::string &bmpPath)
{
    RECT r;
    if (!GetWindowRect(window, &r))
        return false;
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void *bits = NULL;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    DWORD stride = ((DWORD)w * 3 + 3) & ~3u;
    BITMAPFILEHEADER file;
    memset(&file, 0, sizeof file);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * h;
    std::string bytes((const char *)&file, sizeof file);
    bytes.append((const char *)&info.bmiHeader, sizeof info.bmiHeader);
    bytes.append((const char *)bits, stride * h);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return WriteBytes(bmpPath, bytes);
}

static void Shot(HWND window, const std::string &dir, const char *name)
{
    // The window and its controls are painted before the picture is taken.
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, NULL);
    SaveScreenshot(window, dir + "\\" + name + ".bmp");
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: demo_driver layout GAME_DIR | watch UPDATER_EXE | drive UPDATER_EXE SHOTS_DIR\n");
        return 2;
    }
    std::string mode = argv[1];
    if (mode == "layout") {
        MakeSampleGame(argv[2]);
        if (!SetInstallPath(argv[2])) {
            fprintf(stderr, "demo: cannot write the registry entry\n");
            return 1;
        }
        return 0;
    }

    std::string exe = WindowsPathFromUnix(argv[2]);
    PROCESS_INFORMATION process;
    if (!StartProgram(exe, &process)) {
        fprintf(stderr, "demo: cannot start %s\n", exe.c_str());
        return 1;
    }
    if (mode == "watch" || argc < 4) {
        WaitForSingleObject(process.hProcess, INFINITE);
        return 0;
    }
    std::string shots = WindowsPathFromUnix(argv[3]);

    HWND box = Expect(process, DESCRIPTION_CAPTION);
    if (!box)
        return 1;
    Shot(box, shots, "1-description");
    TypeInto(box, "key Return");

    HWND dialog = Expect(process, INSTALLER_CAPTION);
    if (!dialog)
        return 1;
    Shot(dialog, shots, "2-installer");
    ClickOn(GetDlgItem(dialog, IDC_INSTALL));

    // The completion box stands over the window's corner: each is taken
    // whole, the window once the box is gone.
    box = Expect(process, DONE_CAPTION);
    if (!box)
        return 1;
    Shot(box, shots, "3-completion");
    TypeInto(box, "key Return");

    if (!WaitUntil(WAIT_MS, [&] { return !IsWindowVisible(box); }))
        fprintf(stderr, "demo: the completion box did not close\n");
    Shot(dialog, shots, "4-updated");
    printf("%s", LogText(dialog).c_str());
    ClickOn(GetDlgItem(dialog, IDC_CANCEL));
    bool ended = WaitForExit(process, WAIT_MS, NULL);
    EndProcess(process);
    return ended ? 0 : 1;
}
