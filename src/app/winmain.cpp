// The entry point: one updater at a time, one update, exit code 0.
#include "app/messages.h"
#include "app/run_update.h"
#include "platform/winapi.h"

namespace {

// Held from the start of the run to its end; its existence is the guard.
HANDLE GuardHandle;

// The updater runs elevated from wherever its package was unpacked. System
// DLLs that are loaded later on its behalf (the visual-style libraries of its
// message boxes among them) must come from the system folder, never from the
// application's folder. The function is looked up, never imported: where
// the system lacks it, the program starts and runs as before. The pointer
// has the type of the system's own declaration, calling convention included.
void RestrictDllSearch() {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    const FARPROC found = GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (found == nullptr) return;
    const auto setDefaultDllDirectories =
        reinterpret_cast<decltype(&SetDefaultDllDirectories)>(reinterpret_cast<void (*)()>(found));
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();

    GuardHandle = CreateMutexA(nullptr, FALSE, UpdaterMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another updater is at work; its guard stays in place.
        CloseHandle(GuardHandle);
        return 0;
    }

    RunUpdate();

    if (GuardHandle != nullptr) CloseHandle(GuardHandle);
    return 0;
}
