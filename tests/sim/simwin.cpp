#include "sim/simwin.h"

#include <stdio.h>
#include <string.h>

#include <set>

namespace sim {
namespace {

bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Case folding as the system does for names: single-byte A-Z only,
// double-byte characters untouched.
std::string Fold(const std::string& text) {
    std::string out = text;
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (IsLead(c)) {
            ++i;
        } else if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 0x20);
        }
    }
    return out;
}

// Positions of the single-byte backslashes, trail bytes skipped.
std::vector<size_t> Separators(const std::string& path) {
    std::vector<size_t> found;
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (IsLead(c)) {
            ++i;
        } else if (c == '\\') {
            found.push_back(i);
        }
    }
    return found;
}

struct Value {
    DWORD type;
    std::string data;
};
struct Key {
    bool openable = true;
    std::map<std::string, Value> values;  // by folded name
};
struct FileRecord {
    std::string name;  // full path as first written
    Entry entry;
};

struct State {
    std::map<std::string, Key> keys;  // by folded path
    std::vector<std::string> openKeys;
    std::map<std::string, FileRecord> files;  // by folded full path
    std::string currentDir;
    std::map<std::string, int> mutexes;        // name -> handles open on it
    std::map<uintptr_t, std::string> handles;  // the program's handles
    uintptr_t nextHandle = 0x100;
    std::set<std::string> windowClasses;  // folded
    std::vector<int> answers;
    size_t nextAnswer = 0;
    std::vector<Box> boxes;
    bool hasDllDirectories = true;
    DWORD dllDirectories = 0;
    std::vector<Call> calls;
    std::set<size_t> failIndexes;
    std::map<std::string, std::set<int>> failOccurrences;
    std::map<std::string, int> occurrences;
    DWORD lastError = 0;
};
State state;

const HMODULE Kernel32 = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7C800000));
const HWND GameWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10010));

// Logs a call; true when it is to fail.
bool Enter(const char* function, const std::string& argument) {
    const size_t index = state.calls.size();
    state.calls.push_back({function, argument});
    const int occurrence = ++state.occurrences[function];
    const auto byFunction = state.failOccurrences.find(function);
    return state.failIndexes.count(index) != 0 ||
           (byFunction != state.failOccurrences.end() && byFunction->second.count(occurrence) != 0);
}

std::string Text(LPCSTR text) { return text == nullptr ? std::string("(null)") : std::string(text); }

bool IsAbsolute(const std::string& path) {
    return (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\');
}

// The full path: relative paths resolve against the current directory; one
// trailing backslash (not a drive root's) is dropped.
std::string FullPath(const std::string& path) {
    std::string full = IsAbsolute(path) ? path : state.currentDir + "\\" + path;
    const std::vector<size_t> separators = Separators(full);
    if (!separators.empty() && separators.back() == full.size() - 1 && full.size() > 3) {
        full.pop_back();
    }
    return full;
}

std::string Parent(const std::string& full) {
    const std::vector<size_t> separators = Separators(full);
    return separators.empty() ? std::string() : full.substr(0, separators.back());
}

bool IsDriveRoot(const std::string& full) { return full.size() == 2 && full[1] == ':'; }

FileRecord* Find(const std::string& full) {
    const auto it = state.files.find(Fold(full));
    return it == state.files.end() ? nullptr : &it->second;
}

bool FolderExists(const std::string& full) {
    if (IsDriveRoot(full)) return true;
    const FileRecord* record = Find(full);
    return record != nullptr && record->entry.folder;
}

void Put(const std::string& full, const Entry& entry) {
    const std::string parent = Parent(full);
    if (!parent.empty() && !IsDriveRoot(parent) && !FolderExists(parent)) {
        Put(parent, Entry{true, false, ""});
    }
    FileRecord& record = state.files[Fold(full)];
    if (record.name.empty()) record.name = full;
    record.entry = entry;
}

// Paths and names longer than this many bytes are refused by the system.
constexpr size_t LongestName = MAX_PATH;

std::string HandleName(HANDLE handle) {
    char text[32];
    snprintf(text, sizeof text, "%#lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}

BOOL WINAPI SimSetDefaultDllDirectories(DWORD flags) {
    if (Enter("SetDefaultDllDirectories", std::to_string(flags))) {
        state.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    state.dllDirectories = flags;
    return TRUE;
}

}  // namespace

void Reset() {
    state = State();
    SetCurrentDir("C:\\pkg");
}

void AddKey(const std::string& path, bool openable) { state.keys[Fold(path)].openable = openable; }

void SetValue(const std::string& key, const std::string& name, DWORD type, const std::string& data) {
    state.keys[Fold(key)].values[Fold(name)] = Value{type, data};
}

void RemoveValue(const std::string& key, const std::string& name) {
    state.keys[Fold(key)].values.erase(Fold(name));
}

int OpenKeyCount() { return static_cast<int>(state.openKeys.size()); }

void SetCurrentDir(const std::string& absolutePath) {
    state.currentDir = absolutePath;
    AddFolder(absolutePath);
}

std::string CurrentDir() { return state.currentDir; }

void AddFolder(const std::string& path) {
    const std::string full = FullPath(path);
    if (!IsDriveRoot(full)) Put(full, Entry{true, false, ""});
}

void AddFile(const std::string& path, const std::string& contents, bool readOnly) {
    Put(FullPath(path), Entry{false, readOnly, contents});
}

void Remove(const std::string& path) {
    const std::string folded = Fold(FullPath(path));
    for (auto it = state.files.begin(); it != state.files.end();) {
        const bool inside = it->first == folded || (it->first.size() > folded.size() &&
                                                    it->first.compare(0, folded.size(), folded) == 0 &&
                                                    it->first[folded.size()] == '\\');
        it = inside ? state.files.erase(it) : std::next(it);
    }
}

std::map<std::string, Entry> Snapshot() {
    std::map<std::string, Entry> out;
    for (const auto& file : state.files) out[file.second.name] = file.second.entry;
    return out;
}

bool Exists(const std::string& path) {
    const std::string full = FullPath(path);
    return IsDriveRoot(full) || Find(full) != nullptr;
}

std::string Contents(const std::string& path) {
    const FileRecord* record = Find(FullPath(path));
    return record == nullptr ? std::string() : record->entry.contents;
}

void AddForeignMutex(const std::string& name) { ++state.mutexes[name]; }

int MutexHandleCount(const std::string& name) {
    const auto it = state.mutexes.find(name);
    return it == state.mutexes.end() ? 0 : it->second;
}

int OpenHandleCount() { return static_cast<int>(state.handles.size()); }

void AddWindowClass(const std::string& className) { state.windowClasses.insert(Fold(className)); }

void Answer(const std::vector<int>& answers) {
    state.answers = answers;
    state.nextAnswer = 0;
}

const std::vector<Box>& Boxes() { return state.boxes; }

void SetHasDllDirectories(bool present) { state.hasDllDirectories = present; }

DWORD DefaultDllDirectories() { return state.dllDirectories; }

const std::vector<Call>& Calls() { return state.calls; }

std::string CallNames() {
    std::string names;
    for (const Call& call : state.calls) names += (names.empty() ? "" : " ") + call.function;
    return names;
}

void FailCall(size_t index) { state.failIndexes.insert(index); }

void FailFunction(const std::string& function, int occurrence) {
    state.failOccurrences[function].insert(occurrence);
}

}  // namespace sim

using sim::state;

extern "C" {

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name) {
    if (sim::Enter("CreateMutexA", sim::Text(name))) {
        state.lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    // The program never asks for security attributes or ownership, and an
    // unnamed mutex is of no use to it.
    if (attributes != nullptr || initialOwner != FALSE || name == nullptr) {
        state.lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const std::string text = name;
    if (text.size() > sim::LongestName) {
        state.lastError = ERROR_FILENAME_EXCED_RANGE;
        return nullptr;
    }
    if (!sim::Separators(text).empty()) {  // a namespace the system does not know
        state.lastError = ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    int& count = state.mutexes[text];
    state.lastError = count > 0 ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    ++count;
    const uintptr_t handle = state.nextHandle;
    state.nextHandle += 4;
    state.handles[handle] = text;
    return reinterpret_cast<HANDLE>(handle);
}

DWORD WINAPI GetLastError(void) {
    if (sim::Enter("GetLastError", "")) return ERROR_ACCESS_DENIED;
    return state.lastError;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    const bool fail = sim::Enter("CloseHandle", sim::HandleName(handle));
    const auto it = state.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == state.handles.end()) {
        state.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    // A valid handle is released even when the call reports a failure.
    if (--state.mutexes[it->second] == 0) state.mutexes.erase(it->second);
    state.handles.erase(it);
    if (fail) {
        state.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
    if (sim::Enter("FindWindowA", sim::Text(className))) return nullptr;
    if (className == nullptr || windowName != nullptr) return nullptr;
    return state.windowClasses.count(sim::Fold(className)) != 0 ? sim::GameWindow : nullptr;
}

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    if (sim::Enter("RegOpenKeyExA", sim::Text(subKey))) return ERROR_ACCESS_DENIED;
    if (key != HKEY_CURRENT_USER || subKey == nullptr || options != 0 || result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const auto it = state.keys.find(sim::Fold(subKey));
    if (it == state.keys.end()) return ERROR_FILE_NOT_FOUND;
    if (!it->second.openable && access == KEY_ALL_ACCESS) return ERROR_ACCESS_DENIED;
    state.openKeys.push_back(it->first);
    *result = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x2000 + 4 * state.openKeys.size()));
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
    const bool fail = sim::Enter("RegQueryValueExA", sim::Text(valueName));
    const uintptr_t slot = (reinterpret_cast<uintptr_t>(key) - 0x2000) / 4;
    if (reinterpret_cast<uintptr_t>(key) <= 0x2000 || slot > state.openKeys.size()) {
        return ERROR_INVALID_HANDLE;
    }
    if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
    if (fail) {
        // What a failed read leaves in the buffer is undefined: make it
        // text without an end.
        if (data != nullptr) memset(data, 'U', *size);
        return ERROR_ACCESS_DENIED;
    }
    const sim::Key& record = state.keys[state.openKeys[slot - 1]];
    const auto it = record.values.find(sim::Fold(sim::Text(valueName)));
    if (it == record.values.end()) return ERROR_FILE_NOT_FOUND;
    const sim::Value& value = it->second;
    const bool isText = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
    if (type != nullptr) *type = value.type;
    const size_t stored = value.data.size();
    if (data == nullptr || size == nullptr) {
        if (size != nullptr) *size = static_cast<DWORD>(stored);
        return ERROR_SUCCESS;
    }
    if (stored > *size) {
        memset(data, 'U', *size);  // undefined contents, as on the system
        *size = static_cast<DWORD>(stored);
        return ERROR_MORE_DATA;
    }
    memcpy(data, value.data.data(), stored);
    DWORD delivered = static_cast<DWORD>(stored);
    // A text value stored without its terminator gets one only where the
    // buffer has a byte to spare.
    if (isText && (stored == 0 || value.data.back() != '\0') && stored < *size) {
        data[stored] = 0;
        ++delivered;
    }
    *size = delivered;
    return ERROR_SUCCESS;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
    if (sim::Enter("GetFileAttributesA", sim::Text(path))) return INVALID_FILE_ATTRIBUTES;
    if (path == nullptr || *path == '\0') return INVALID_FILE_ATTRIBUTES;
    const std::string full = sim::FullPath(path);
    if (full.size() > sim::LongestName) return INVALID_FILE_ATTRIBUTES;
    if (sim::IsDriveRoot(full)) return FILE_ATTRIBUTE_DIRECTORY;
    const sim::FileRecord* record = sim::Find(full);
    if (record == nullptr) return INVALID_FILE_ATTRIBUTES;
    if (record->entry.folder) return FILE_ATTRIBUTE_DIRECTORY;
    return FILE_ATTRIBUTE_ARCHIVE | (record->entry.readOnly ? FILE_ATTRIBUTE_READONLY : 0u);
}

BOOL WINAPI CopyFileA(LPCSTR source, LPCSTR target, BOOL failIfExists) {
    if (sim::Enter("CopyFileA", sim::Text(source) + " -> " + sim::Text(target))) {
        state.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (source == nullptr || target == nullptr) return FALSE;
    const std::string from = sim::FullPath(source);
    const std::string to = sim::FullPath(target);
    if (from.size() > sim::LongestName || to.size() > sim::LongestName) {
        state.lastError = ERROR_FILENAME_EXCED_RANGE;
        return FALSE;
    }
    const sim::FileRecord* original = sim::Find(from);
    if (original == nullptr || original->entry.folder) {
        state.lastError = original == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (!sim::FolderExists(sim::Parent(to))) {
        state.lastError = ERROR_PATH_NOT_FOUND;
        return FALSE;
    }
    const sim::FileRecord* existing = sim::Find(to);
    if (existing != nullptr) {
        if (failIfExists) {
            state.lastError = ERROR_FILE_EXISTS;
            return FALSE;
        }
        if (existing->entry.folder || existing->entry.readOnly) {
            state.lastError = ERROR_ACCESS_DENIED;
            return FALSE;
        }
    }
    sim::Put(to, sim::Entry{false, original->entry.readOnly, original->entry.contents});
    return TRUE;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    if (sim::Enter("MessageBoxA", sim::Text(caption))) return 0;
    int answer = (style & 0xF) == MB_YESNO ? IDYES : IDOK;
    if (state.nextAnswer < state.answers.size()) answer = state.answers[state.nextAnswer++];
    state.boxes.push_back({owner, sim::Text(text), sim::Text(caption), style, answer});
    return answer;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    if (sim::Enter("GetModuleHandleA", sim::Text(moduleName))) return nullptr;
    if (moduleName != nullptr && sim::Fold(moduleName) == "kernel32.dll") return sim::Kernel32;
    state.lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    if (sim::Enter("GetProcAddress", sim::Text(procName))) return nullptr;
    if (module == sim::Kernel32 && procName != nullptr && strcmp(procName, "SetDefaultDllDirectories") == 0 &&
        state.hasDllDirectories) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&sim::SimSetDefaultDllDirectories));
    }
    state.lastError = ERROR_PROC_NOT_FOUND;
    return nullptr;
}

}  // extern "C"
