// Fuzzes the whole update procedure against the simulated Windows: the
// registry entry, the installation and payload on disk, the game's presence,
// the user's answers and failing platform calls are all drawn from the input,
// and every run is checked for what must hold whatever happened.
//
// Every choice takes one byte from the end of the input (FuzzedDataProvider);
// a raw "Dir" value takes its bytes from the front. An input that runs out
// gets choice 0 everywhere, which is a typical installation updated without
// trouble.
#include <fuzzer/FuzzedDataProvider.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/run_update.h"
#include "sim/simwin.h"

namespace {

const char kKey[] = "Software\\KORVEN\\harunel";
const char kExe[] = "harunel.exe";

// The longest prefix for which every installation path fits in MAX_PATH + 1.
constexpr size_t kLongestPrefix = MAX_PATH - (sizeof "pac\\update1.zmk" - 1);

// Pieces of which most prefixes are built, so that deep paths come up often:
// drives, folders, capitals, Japanese characters whose trail byte is 0x5C,
// lone lead bytes, half-width katakana and other odd bytes.
const char* const kPieces[] = {
    "C:\\",
    "D:\\",
    "\\",
    "Games\\",
    "harunel\\",
    "HARUNEL\\",
    "Program Files\\",
    "pkg\\",
    "data\\",
    "pac\\",
    "A",
    "a",
    "Z",
    ".",
    " ",
    "..\\",
    "\\\\",
    ":",
    "/",
    "\x95\x5C",                    // 表
    "\x83\x5C",                    // ソ
    "\x95\x5C\\",                  // 表 then a separator
    "\x83\x51\x81\x5B\x83\x80\\",  // ゲーム
    "\x83\x5C\x83\x74\x83\x67\\",  // ソフト
    "\x81",                        // lone lead bytes
    "\x9F",
    "\xE0",
    "\xFC",
    "\xB1",  // half-width ｱ
    "\x80",
    "\xFD",
    "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\\",
};
constexpr size_t kPieceCount = sizeof kPieces / sizeof kPieces[0];

const char* const kBases[] = {
    "C:\\Games\\harunel\\",
    "C:\\",
    "D:\\\x83\x51\x81\x5B\x83\x80\\\x95\x5C\\",  // D:\ゲーム\表\ .
    "",
};

const DWORD kTypes[] = {REG_SZ, REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_NONE, 11};

const char* const kFunctions[] = {"RegOpenKeyExA", "RegQueryValueExA", "GetFileAttributesA",
                                  "CreateMutexA",  "GetLastError",     "CloseHandle",
                                  "FindWindowA",   "MessageBoxA",      "CopyFileA"};

const int kAnswers[] = {IDYES, IDNO, 0, IDOK, 42};

const char* const kInstallEntries[] = {"inst.ini", "pac", "pac\\zmbin.zmk", "pac\\update1.zmk"};
const char* const kPayloadEntries[] = {"data", "data\\inst.ini", "data\\pac\\zmbin.zmk",
                                       "data\\pac\\update1.zmk"};
// The three copies: payload source and installation entry.
const char* const kSources[] = {"data\\inst.ini", "data\\pac\\zmbin.zmk", "data\\pac\\update1.zmk"};
const char* const kTargets[] = {"inst.ini", "pac\\zmbin.zmk", "pac\\update1.zmk"};

bool IsLead(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 0x81 && u <= 0x9F) || (u >= 0xE0 && u <= 0xFC);
}

// Single-byte capitals lowered, and, if colons, single-byte backslashes
// turned into colons; double-byte characters kept whole.
std::string Lowered(std::string text, bool colons) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsLead(text[i]) && i + 1 < text.size()) {
            ++i;
        } else if (IsLead(text[i])) {
            // a lone lead byte at the end stays as it is
        } else if (text[i] >= 'A' && text[i] <= 'Z') {
            text[i] = static_cast<char>(text[i] + 0x20);
        } else if (colons && text[i] == '\\') {
            text[i] = ':';
        }
    }
    return text;
}

// A path as the simulated file system names it: relative paths hang off the
// current directory. Folded, for comparisons without case.
std::string FoldedFullPath(const std::string& path) {
    const bool absolute = (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\');
    return Lowered(absolute ? path : sim::CurrentDir() + "\\" + path, false);
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char digits[4];
    for (unsigned char c : bytes) {
        snprintf(digits, sizeof digits, "%02X ", c);
        out += digits;
    }
    return out;
}

// What the run was given, for the report of a failed check.
struct Setup {
    std::string dir;  // the stored "Dir" value
    bool dirPresent = false;
    std::string prefix;  // the value up to its first NUL
    std::string instanceName;
    bool faults = false;
};

[[noreturn]] void Fail(const char* what, const Setup& setup) {
    fprintf(stderr, "fuzz_run_update: %s\n  Dir (%s, %zu bytes): %s\n  calls:", what,
            setup.dirPresent ? "present" : "absent", setup.dir.size(), Hex(setup.dir).c_str());
    for (const sim::Call& call : sim::Calls()) {
        fprintf(stderr, "\n    %s(%s)", call.function.c_str(), Hex(call.argument).c_str());
    }
    fprintf(stderr, "\n");
    abort();
}

std::string BuildDir(FuzzedDataProvider& input) {
    std::string dir = kBases[input.ConsumeIntegralInRange<size_t>(0, 3)];
    const size_t pieces = input.ConsumeIntegralInRange<size_t>(0, 15);
    const size_t padTo = input.ConsumeIntegralInRange<size_t>(0, 63);
    std::string tail;
    for (size_t i = 0; i < pieces; ++i)
        tail += kPieces[input.ConsumeIntegralInRange<size_t>(0, kPieceCount - 1)];
    // A folder of a's after the base brings the whole to 230..269 bytes,
    // around the lengths where the prefix stops fitting.
    if (padTo >= 24) {
        const size_t target = 206 + padTo;
        if (dir.size() + tail.size() + 1 < target)
            dir += std::string(target - dir.size() - tail.size() - 1, 'a') + "\\";
    }
    dir += tail;
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            dir += '\0';
            break;
        case 1:
            break;  // stored without terminator
        case 2:
            dir += std::string("\0zz", 3);
            break;
        default:
            dir += std::string(2, '\0');
            break;
    }
    return dir;
}

// Entry kinds: 0 the usual kind, 1 missing, 2 the other kind, 3 read-only file.
void Place(const std::string& path, int kind, bool folder, const std::string& contents) {
    if (kind == 1) return;
    if (kind == 3) {
        sim::AddFile(path, contents, true);
    } else if ((kind == 0) == folder) {
        sim::AddFolder(path);
    } else {
        sim::AddFile(path, contents);
    }
}

const sim::Entry* Lookup(const std::map<std::string, sim::Entry>& folded, const std::string& foldedPath) {
    const auto it = folded.find(foldedPath);
    return it == folded.end() ? nullptr : &it->second;
}

std::map<std::string, sim::Entry> FoldedSnapshot() {
    std::map<std::string, sim::Entry> out;
    for (const auto& item : sim::Snapshot()) out[Lowered(item.first, false)] = item.second;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    Setup setup;
    sim::Reset();

    // The registry.
    const int key = input.ConsumeIntegralInRange<int>(0, 3);
    if (key != 1) sim::AddKey(kKey, key != 2);
    setup.dirPresent = input.ConsumeIntegralInRange<int>(0, 3) != 3;
    const DWORD type = kTypes[input.ConsumeIntegralInRange<size_t>(0, 7)];
    if (input.ConsumeIntegralInRange<int>(0, 3) == 3) {
        const size_t length =
            input.ConsumeIntegralInRange<size_t>(0, 255) + input.ConsumeIntegralInRange<size_t>(0, 63);
        setup.dir = input.ConsumeBytesAsString(length);
    } else {
        setup.dir = BuildDir(input);
    }
    // Setting a value would make the key.
    if (key != 1 && setup.dirPresent) sim::SetValue(kKey, "Dir", type, setup.dir);
    setup.prefix = setup.dir.substr(0, setup.dir.find('\0'));
    setup.instanceName = Lowered(setup.prefix + kExe, true);

    // The disk: the installation under the prefix, the payload in the
    // current directory. Entries that are to be missing go last, since adding
    // an entry makes its folders.
    if (input.ConsumeIntegralInRange<int>(0, 3) == 3) sim::SetCurrentDir("C:\\Games\\harunel");
    int installKinds[4];
    int payloadKinds[4];
    for (int& kind : installKinds) kind = input.ConsumeIntegralInRange<int>(0, 3);
    for (int& kind : payloadKinds) kind = input.ConsumeIntegralInRange<int>(0, 3);
    for (int i : {2, 3, 1, 0}) {
        Place(setup.prefix + kInstallEntries[i], installKinds[i], i == 1,
              std::string("1.00 ") + kInstallEntries[i]);
    }
    for (int i = 0; i < 4; ++i) {
        Place(kPayloadEntries[i], payloadKinds[i], i == 0, std::string("1.01 ") + kPayloadEntries[i]);
    }
    for (int i = 0; i < 4; ++i) {
        if (installKinds[i] == 1) sim::Remove(setup.prefix + kInstallEntries[i]);
    }
    for (int i = 0; i < 4; ++i) {
        if (payloadKinds[i] == 1) sim::Remove(kPayloadEntries[i]);
    }

    // The game.
    const int game = input.ConsumeIntegralInRange<int>(0, 3);
    if (game & 1) sim::AddForeignMutex(setup.instanceName);
    if (game & 2) sim::AddWindowClass(setup.instanceName);
    const bool gameRuns = game == 3;
    const int fixtureMutexes = sim::MutexHandleCount(setup.instanceName);

    // The user and the faults.
    std::vector<int> answers(input.ConsumeIntegralInRange<size_t>(0, 3));
    for (int& answer : answers) answer = kAnswers[input.ConsumeIntegralInRange<size_t>(0, 4)];
    sim::Answer(answers);
    for (size_t n = input.ConsumeIntegralInRange<size_t>(0, 3); n > 0; --n) {
        sim::FailCall(input.ConsumeIntegralInRange<size_t>(0, 31));
        setup.faults = true;
    }
    for (size_t n = input.ConsumeIntegralInRange<size_t>(0, 3); n > 0; --n) {
        const char* function = kFunctions[input.ConsumeIntegralInRange<size_t>(0, 8)];
        sim::FailFunction(function, input.ConsumeIntegralInRange<int>(1, 4));
        setup.faults = true;
    }

    bool payloadComplete = true;
    for (int kind : payloadKinds) payloadComplete = payloadComplete && kind != 1;

    const std::map<std::string, sim::Entry> before = FoldedSnapshot();
    const int result = RunUpdate();
    const std::map<std::string, sim::Entry> after = FoldedSnapshot();

    // The conversation: confirmations, then exactly one closing box, which
    // is the last call; copies only after both confirmations.
    std::string confirmCaption = CaptionConfirmFormat;
    const size_t slot = confirmCaption.find("%s");
    if (slot == std::string::npos) Fail("harness: confirmation caption without %s", setup);
    confirmCaption.replace(slot, 2, GameTitle);

    const std::vector<sim::Call>& calls = sim::Calls();
    int confirmations = 0;
    int closings = 0;
    int copies = 0;
    std::string closingCaption;
    for (size_t i = 0; i < calls.size(); ++i) {
        const sim::Call& call = calls[i];
        if (closings > 0) Fail("a call after the closing box", setup);
        if (call.function == "MessageBoxA") {
            if (call.argument == confirmCaption) {
                ++confirmations;
            } else {
                ++closings;
                closingCaption = call.argument;
            }
        } else if (call.function == "CopyFileA") {
            ++copies;
            if (confirmations < 2) Fail("copied before both confirmations", setup);
        } else if (call.function == "CreateMutexA") {
            if (call.argument != setup.instanceName) Fail("probed a wrong instance name", setup);
        }
    }
    if (closings != 1) Fail("not exactly one closing box", setup);
    if (confirmations > 2) Fail("more than two confirmations", setup);
    if (result != 0 && result != -1) Fail("result neither 0 nor -1", setup);
    if ((result == 0) != (closingCaption == CaptionUpdated))
        Fail("result does not match the closing box", setup);
    if (copies != 0 && copies != 3) Fail("copies neither none nor all three", setup);
    if (result == 0 && copies != 3) Fail("success without the three copies", setup);
    if (copies == 3 && closingCaption != CaptionUpdated && closingCaption != CaptionCopyFailed) {
        Fail("copies made, but the closing box is neither success nor failure to copy", setup);
    }
    if (copies > 0 && setup.prefix.size() > kLongestPrefix) Fail("copied under a prefix too long", setup);
    for (const sim::Box& box : sim::Boxes()) {
        if (box.caption == confirmCaption && box.answer == IDNO &&
            (copies != 0 || closingCaption != CaptionCancelled)) {
            Fail("No at a confirmation did not cancel", setup);
        }
    }
    if (!setup.faults && gameRuns && copies != 0) Fail("updated while the game runs", setup);
    if (!setup.faults && !payloadComplete && copies != 0) Fail("updated from an incomplete payload", setup);

    // The disk: only the three targets may change, only by a copy, and only
    // into the payload's file.
    std::string targets[3];
    std::string sources[3];
    for (int i = 0; i < 3; ++i) {
        targets[i] = FoldedFullPath(setup.prefix + kTargets[i]);
        sources[i] = FoldedFullPath(kSources[i]);
    }
    std::map<std::string, bool> paths;
    for (const auto& item : before) paths[item.first] = true;
    for (const auto& item : after) paths[item.first] = true;
    for (const auto& item : paths) {
        const sim::Entry* was = Lookup(before, item.first);
        const sim::Entry* is = Lookup(after, item.first);
        if (was != nullptr && is != nullptr && *was == *is) continue;
        if (copies == 0) Fail("the disk changed without a copy", setup);
        int target = 0;
        while (target < 3 && targets[target] != item.first) ++target;
        if (target == 3) Fail("an entry other than a target changed", setup);
        const sim::Entry* source = Lookup(before, sources[target]);
        if (is == nullptr || source == nullptr || !(*is == *source)) {
            Fail("a target changed into something else than its payload file", setup);
        }
    }
    if (result == 0) {
        for (int i = 0; i < 3; ++i) {
            const sim::Entry* is = Lookup(after, targets[i]);
            const sim::Entry* source = Lookup(before, sources[i]);
            if (is == nullptr || source == nullptr || !(*is == *source)) {
                Fail("success, but a target does not hold its payload file", setup);
            }
        }
    }

    // Nothing held afterwards.
    if (sim::OpenHandleCount() != 0) Fail("a handle left open", setup);
    if (sim::MutexHandleCount(setup.instanceName) != fixtureMutexes)
        Fail("the instance mutex left behind", setup);

    // Leaves the simulation as it was found, so that libFuzzer does not take
    // its state for a leak and run the input again to look for one.
    sim::Reset();
    return 0;
}
