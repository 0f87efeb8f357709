// The updater's message boxes as another program meets them: start
// Updater.exe in a chosen current directory, wait for each box it shows (a
// visible "#32770" window of its process), read what it says and press one of
// its buttons. Shared by the end-to-end tests and the demo's driver.
#ifndef UPDATER_TESTS_E2E_BOXES_H
#define UPDATER_TESTS_E2E_BOXES_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

namespace boxes {

// A message box as the user met it.
struct Box {
    std::wstring caption;
    std::wstring text;
    bool ok = false, yes = false, no = false, cancel = false;
    bool icon = false;
};

// A started updater and the boxes of it already handed out.
struct Process {
    PROCESS_INFORMATION process = {};
    std::vector<HWND> handled;
};

// Starts exe in currentDir; flags as for CreateProcess (CREATE_SUSPENDED to
// let several start at the same moment).
inline bool Start(Process& started, const std::wstring& exe, const std::wstring& currentDir,
                  DWORD flags = 0) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + exe + L"\"";
    return CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                          currentDir.c_str(), &startup, &started.process) != 0;
}

// 32 or 64: what the executable file is built for, from its PE header; 0 if
// it is no PE file for x86.
inline int ImageBits(const std::wstring& exe) {
    HANDLE file = CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    IMAGE_DOS_HEADER dos = {};
    IMAGE_FILE_HEADER header = {};
    DWORD signature = 0, read = 0;
    bool ok = ReadFile(file, &dos, sizeof dos, &read, nullptr) && read == sizeof dos &&
              dos.e_magic == IMAGE_DOS_SIGNATURE &&
              SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
              ReadFile(file, &signature, sizeof signature, &read, nullptr) &&
              signature == IMAGE_NT_SIGNATURE && ReadFile(file, &header, sizeof header, &read, nullptr) &&
              read == sizeof header;
    CloseHandle(file);
    if (!ok) return 0;
    if (header.Machine == IMAGE_FILE_MACHINE_I386) return 32;
    if (header.Machine == IMAGE_FILE_MACHINE_AMD64) return 64;
    return 0;
}

// 32 or 64: how the system runs a started process.
inline int ProcessBits(HANDLE process) {
    BOOL wow64 = FALSE, selfWow64 = FALSE;
    IsWow64Process(process, &wow64);
    IsWow64Process(GetCurrentProcess(), &selfWow64);
    const bool system64 = sizeof(void*) == 8 || selfWow64;
    return system64 && !wow64 ? 64 : 32;
}

struct FindBox {
    DWORD pid;
    const std::vector<HWND>* handled;
    HWND found;
};

inline BOOL CALLBACK FindBoxOf(HWND window, LPARAM context) {
    FindBox* find = reinterpret_cast<FindBox*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (pid != find->pid || wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    for (HWND seen : *find->handled)
        if (seen == window) return TRUE;
    if (GetDlgItem(window, 0xFFFF) == nullptr) return TRUE;  // not filled in yet
    find->found = window;
    return FALSE;
}

// A box the process shows that was not handed out yet, or null; does not
// wait.
inline HWND ShownBox(const Process& started) {
    FindBox find = {started.process.dwProcessId, &started.handled, nullptr};
    EnumWindows(FindBoxOf, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

// Hands out a box found by ShownBox once it is drawn.
inline HWND TakeBox(Process& started, HWND box) {
    Sleep(100);  // let it finish drawing
    started.handled.push_back(box);
    return box;
}

// The next box the process shows, or null once it has ended or timeoutMs
// passed.
inline HWND NextBox(Process& started, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (HWND box = ShownBox(started)) return TakeBox(started, box);
        if (WaitForSingleObject(started.process.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

inline Box Read(HWND box) {
    Box seen;
    wchar_t text[2048] = {};
    GetWindowTextW(box, text, 2048);
    seen.caption = text;
    GetDlgItemTextW(box, 0xFFFF, text, 2048);
    seen.text = text;
    seen.ok = GetDlgItem(box, IDOK) != nullptr;
    seen.yes = GetDlgItem(box, IDYES) != nullptr;
    seen.no = GetDlgItem(box, IDNO) != nullptr;
    seen.cancel = GetDlgItem(box, IDCANCEL) != nullptr;
    // The icon control is 20 on Windows and 1088 on Wine, where it exists
    // even without an icon: ask it for its icon.
    for (int id : {20, 1088}) {
        HWND control = GetDlgItem(box, id);
        if (control != nullptr && SendMessageW(control, STM_GETICON, 0, 0) != 0) seen.icon = true;
    }
    return seen;
}

inline void Press(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

}  // namespace boxes

#endif  // UPDATER_TESTS_E2E_BOXES_H
