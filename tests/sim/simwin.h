// A simulated Windows behind the updater's platform seam, for host tests:
// registry, file system, named mutexes, top-level windows and message boxes
// in memory, every call logged in order, and any call can be made to fail.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/winapi.h"

namespace sim {

// Forgets everything: no keys, no files but the drive C:, no mutexes, no
// windows, no boxes, no faults, current directory C:\pkg (created).
void Reset();

// --- Registry (under HKEY_CURRENT_USER; names compare without case) ---
// A key that exists but refuses KEY_ALL_ACCESS has openable false.
void AddKey(const std::string& path, bool openable = true);
void SetValue(const std::string& key, const std::string& name, DWORD type, const std::string& data);
void RemoveValue(const std::string& key, const std::string& name);
int OpenKeyCount();  // keys opened and still open (the seam has no close)

// --- File system (paths compare without case; folders made as needed) ---
void SetCurrentDir(const std::string& absolutePath);
std::string CurrentDir();
void AddFolder(const std::string& path);
void AddFile(const std::string& path, const std::string& contents, bool readOnly = false);
void Remove(const std::string& path);
struct Entry {
    bool folder = false;
    bool readOnly = false;
    std::string contents;
    bool operator==(const Entry& other) const {
        return folder == other.folder && readOnly == other.readOnly && contents == other.contents;
    }
};
// Every entry by full path (as first written), for before/after comparison.
std::map<std::string, Entry> Snapshot();
bool Exists(const std::string& path);
std::string Contents(const std::string& path);  // "" when missing

// --- Named mutexes ---
void AddForeignMutex(const std::string& name);  // held by another process
int MutexHandleCount(const std::string& name);  // 0 when the name is free
int OpenHandleCount();                          // handles the program still holds

// --- Top-level windows ---
void AddWindowClass(const std::string& className);

// --- Message boxes ---
struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
    int answer;
};
// Answers for the next boxes, in order; when they run out a Yes/No box gets
// IDYES and any other IDOK.
void Answer(const std::vector<int>& answers);
const std::vector<Box>& Boxes();  // boxes shown, in order

// --- DLL search ---
// Whether kernel32 exports SetDefaultDllDirectories (false: an old system).
void SetHasDllDirectories(bool present);
DWORD DefaultDllDirectories();  // the flags set, 0 if never set

// --- Calls and faults ---
struct Call {
    std::string function;
    std::string argument;  // the main text argument, or a short summary
};
const std::vector<Call>& Calls();
std::string CallNames();  // "CreateMutexA GetLastError ..." in order
// Makes the platform call with this index (0-based, counting every call) fail
// the way that function fails: null handle, error code, invalid attributes,
// zero, a box that cannot be shown, or a wrong last-error code.
void FailCall(size_t index);
// Makes the n-th call (1-based) of one function fail.
void FailFunction(const std::string& function, int occurrence = 1);

}  // namespace sim
