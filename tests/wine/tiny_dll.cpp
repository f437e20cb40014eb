// The smallest real DLL, for the desktop checks under Wine: the releases
// there are this DLL with their version appended (the loader ignores bytes
// after the image), so a program can load each one.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" __declspec(dllexport) int MailbeaconTinyVersion() { return 1; }
