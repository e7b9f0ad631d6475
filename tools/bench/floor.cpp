// The platform floor for the benchmark: a Win32 program that shows one
// message box and ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    MessageBoxA(NULL, "Floor", "Floor", MB_OK);
    return 0;
}
