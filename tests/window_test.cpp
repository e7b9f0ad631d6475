// The exe as Windows sees it, and its window made inside this process.
#include "harness.h"

#include <dbghelp.h>
#include <sstream>
#include "installer/installer_dialog.h"
#include "installer/status_log.h"
#include "update/update_procedure.h"

namespace {

// Every import with the oldest Windows of its line, all on 98 SE and NT 4.0;
// a newer function is looked up (GetProcAddress), never named here.
struct ImportGroup {
    const char *dll, *windows9x, *nt, *functions;
} const IMPORTS[] = {
    { "ADVAPI32.DLL", "95", "NT 3.1", "RegCloseKey RegOpenKeyExA RegQueryValueExA" },
    { "KERNEL32.DLL", "95", "NT 3.1",
      "CloseHandle CompareStringA CreateFileA CreateMutexA CreateThread DeleteCriticalSection DeleteFileA DeviceIoControl "
      "EnterCriticalSection FindClose FindFirstFileA FlushFileBuffers FreeLibrary GetFileInformationByHandle GetFileSize "
      "GetFullPathNameA GetLastError GetModuleHandleA GetProcAddress GetStartupInfoA GetSystemDirectoryA GetTickCount "
      "GetVersion InitializeCriticalSection LeaveCriticalSection LoadLibraryA LoadLibraryExA MoveFileA MultiByteToWideChar "
      "ReadFile ReleaseMutex ResumeThread SetFilePointer SetLastError SetUnhandledExceptionFilter Sleep TlsGetValue "
      "VirtualProtect VirtualQuery WaitForSingleObject WriteFile" },
    { "USER32.DLL", "95", "NT 3.1",
      "DialogBoxParamA EnableWindow EndDialog GetDlgItem GetSystemMetrics IsWindowEnabled MessageBoxA PostQuitMessage "
      "SendMessageA SetDlgItemTextA" },
    { "USER32.DLL", "95", "NT 3.51", "LoadImageA" },
    // The C runtime as Windows 98 and NT 4.0 ship it; 95 lacks the DLL.
    { "MSVCRT.DLL", "98", "NT 4.0",
      "__getmainargs __initenv __p__acmdln __p__commode __p__fmode __set_app_type __setusermatherr _amsg_exit _cexit "
      "_initterm _iob _onexit abort calloc exit fprintf free fwrite malloc memcmp memcpy signal strcat strcmp strcpy "
      "strlen strncmp strpbrk strrchr vfprintf" },
};

TEST(ExeImage, IsA32BitGuiProgramForWindows4UnderFortyKiBImportingOnlyWhatWindows98AndNt4Have)
{
    std::string exe = Read(g_exe);
    EXPECT_LT(exe.size(), 40u * 1024);
    IMAGE_NT_HEADERS32 *nt = (IMAGE_NT_HEADERS32 *)ImageNtHeader(&exe[0]);
    ASSERT_TRUE(nt);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(nt->OptionalHeader.MajorSubsystemVersion * 10 + nt->OptionalHeader.MinorSubsystemVersion, 40);
    EXPECT_EQ(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size, 0u);
    auto at = [&](DWORD rva) { return (char *)ImageRvaToVa((IMAGE_NT_HEADERS *)nt, &exe[0], rva, NULL); };
    ULONG size;
    auto *import = (IMAGE_IMPORT_DESCRIPTOR *)ImageDirectoryEntryToData(&exe[0], FALSE, IMAGE_DIRECTORY_ENTRY_IMPORT, &size);
    std::set<std::string> imported, listed;
    for (; import && import->Name; import++)
        for (auto *thunk = (IMAGE_THUNK_DATA32 *)at(import->OriginalFirstThunk); thunk->u1.AddressOfData; thunk++)
            imported.insert(CharUpperA(at(import->Name)) + std::string("!") +
                            (IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal) ? "#ordinal" : ((IMAGE_IMPORT_BY_NAME *)at(thunk->u1.AddressOfData))->Name));
    for (const ImportGroup &g : IMPORTS) {
        EXPECT_TRUE(std::set<std::string>({ "95", "95 (stub)", "98" }).count(g.windows9x)) << g.functions;
        EXPECT_TRUE(std::set<std::string>({ "NT 3.1", "NT 3.51", "NT 4.0" }).count(g.nt)) << g.functions;
        std::istringstream names(g.functions);
        for (std::string name; names >> name;)
            listed.insert(std::string(g.dll) + "!" + name);
    }
    EXPECT_EQ(imported, listed);
}

// Every resource the exe carries, as "type/name/language" of their numbers.
BOOL CALLBACK AddLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language, LONG_PTR all)
{
    return ((std::set<std::string> *)all)->insert(std::to_string((UINT_PTR)type) + "/" + std::to_string((UINT_PTR)name) + "/" + std::to_string(language)), TRUE;
}
BOOL CALLBACK AddName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR all)
{
    return EnumResourceLanguagesA(module, type, name, AddLanguage, all);
}
BOOL CALLBACK AddType(HMODULE module, LPSTR type, LONG_PTR all)
{
    return EnumResourceNamesA(module, type, AddName, all);
}

// Answers every message box this process shows, from a thread of its own.
DWORD WINAPI AnswerBoxes(LPVOID stop)
{
    while (!*(volatile LONG *)stop)
        if (HWND box = WaitForDialog(GetCurrentProcessId(), NULL, 10, ""))
            CloseMessageBox(box);
    return 0;
}

class Window : public Updater {
public:
    HMODULE exe = NULL;
    HWND dialog = NULL;
    void SetUp() override
    {
        Updater::SetUp();
        ASSERT_TRUE(g_hInstance = exe = LoadLibraryExA(g_exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE));
        volatile LONG stop = 0;
        HANDLE answerer = CreateThread(NULL, 0, AnswerBoxes, (LPVOID)&stop, 0, NULL);
        dialog = CreateDialogParamA(exe, MAKEINTRESOURCEA(IDD_INSTALLER), NULL, InstallerDlgProc, 0);
        stop = 1;
        WaitForSingleObject(answerer, INFINITE);
        CloseHandle(answerer);
        ASSERT_TRUE(dialog);
        ASSERT_EQ(g_hDlg, dialog);
    }
    void TearDown() override
    {
        DestroyWindow(dialog);
        FreeStatus();
        FreeLibrary(exe);
        Updater::TearDown();
    }
};

SIZE IconSize(HWND dialog, WPARAM which)
{
    ICONINFO info = {};
    BITMAP bitmap = {};
    if (GetIconInfo((HICON)SendMessageA(dialog, WM_GETICON, which, 0), &info))
        GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
    return SIZE{ bitmap.bmWidth, bitmap.bmHeight };
}

const void *Resource(HMODULE exe, int id, LPCSTR type, DWORD *size = NULL)
{
    HRSRC found = FindResourceA(exe, MAKEINTRESOURCEA(id), type);
    if (size)
        *size = SizeofResource(exe, found);
    return LockResource(LoadResource(exe, found));
}

// The window's template byte for byte (a plain template at 0,0, 298 x 229
// units, 8 point "MS Sans Serif", in tab order the default "Instaluj",
// "Anuluj", the read-only log and the picture), the picture at its size
// and the icon at both.
TEST_F(Window, IsTheInstallerTemplateWithItsIconsPictureAndPolishResourcesOnly)
{
    std::set<std::string> resources;
    EnumResourceTypesA(exe, AddType, (LONG_PTR)&resources);
    EXPECT_EQ(resources, (std::set<std::string>{ "2/104/1045", "3/1/1045", "5/101/1045", "14/102/1045" }));
    DWORD size = 0;
    const char *dialogTemplate = (const char *)Resource(exe, IDD_INSTALLER, RT_DIALOG, &size);
    EXPECT_EQ(Fnv1a(dialogTemplate, size), 0x6a528ff3fca3d101ull) << size << " bytes";
    const BYTE *group = (const BYTE *)Resource(exe, IDI_INSTALLER, RT_GROUP_ICON);
    ASSERT_TRUE(group);
    EXPECT_EQ(std::string((const char *)group + 4, 10), std::string("\1\0\x20\x20\x10\0\1\0\4\0", 10))
        << "one 32x32 image in 16 colours, 4 bits";
    auto *picture = (const BITMAPINFOHEADER *)Resource(exe, IDB_SIDEBAR, RT_BITMAP);
    ASSERT_TRUE(picture);
    EXPECT_EQ(std::to_string(picture->biWidth) + "x" + std::to_string(picture->biHeight) + "x" + std::to_string(picture->biBitCount), "82x349x8");

    RECT shown;
    GetWindowRect(GetDlgItem(dialog, 0xFFFF), &shown);
    EXPECT_EQ(std::to_string(shown.right - shown.left) + "x" + std::to_string(shown.bottom - shown.top), "82x349");
    SIZE small = IconSize(dialog, ICON_SMALL), big = IconSize(dialog, ICON_BIG);
    EXPECT_EQ(small.cx * 1000 + small.cy, GetSystemMetrics(SM_CXSMICON) * 1000 + GetSystemMetrics(SM_CYSMICON));
    EXPECT_EQ(big.cx * 1000 + big.cy, GetSystemMetrics(SM_CXICON) * 1000 + GetSystemMetrics(SM_CYICON));
}

TEST_F(Window, TheCloseBoxDuringARunLeavesTheLogToTheWorker)
{
    // The worker's first change to the window waits for this thread to
    // take messages, so the run is still going when the close comes.
    RemoveTree(game.dir + LEADER_DIR_WRONG);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_INSTALL, BN_CLICKED), 0);
    ASSERT_TRUE(IsInstallRunning());
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(g_statusText != NULL) << "the log was freed under a running worker";
    EXPECT_TRUE(WaitUntil(WAIT_MS, [] {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        return !IsInstallRunning();
    }));
    EXPECT_EQ(std::string(g_statusText), Welcome(game.dir) + StoppedAt(1));
}

}  // namespace
