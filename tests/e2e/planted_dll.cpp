// A DLL that must never be loaded: the end-to-end tests put copies of it,
// named like system DLLs that are loaded on Updater.exe's behalf once it
// runs (uxtheme.dll...), beside Updater.exe, where a planted DLL would lie.
// Loaded, it leaves the file "planted-dll-ran" in the current directory and
// refuses to load.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    HANDLE mark = CreateFileW(L"planted-dll-ran", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
    return FALSE;
}
