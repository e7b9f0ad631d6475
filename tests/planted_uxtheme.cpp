// A DLL left beside the updater under a system DLL's name: loaded, it
// leaves a marker file beside itself.
#include <windows.h>
#include <string.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8];
        DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
        strcpy(path + length, ".loaded");
        CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    }
    return TRUE;
}
