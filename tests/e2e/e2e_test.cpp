// End-to-end tests of the real Updater.exe on a real Windows API (Windows, or
// Wine with code page 932): real registry, files, named mutexes, windows and
// message boxes. Each test lays out an installation and an update package,
// starts the updater in the package folder, answers its boxes like a user
// would and checks what the user saw and what ended up on disk.
//
// The expected wording is written here in UTF-16, independently of the
// updater's Shift_JIS texts, so a box only matches when the system decoded
// the updater's bytes as code page 932 to exactly these characters.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "boxes.h"

namespace {

std::wstring gUpdater;  // full path of Updater.exe
int gUpdaterBits = 0;   // 32 or 64, from its PE header
std::wstring gPlanted;  // full path of the planted DLL of the same kind, if given
std::wstring gWork;     // folder for the tests' installations and packages

const wchar_t kKey[] = L"Software\\KORVEN\\harunel";

// --- What the user must read ---
const wchar_t kConfirmCaption[] = L"ハルネル アップデート";
const wchar_t kNotInstalled[] =
    L"ハルネル が正常にインストールされていません\nインストール後、実行してください";
const wchar_t kGameRunning[] = L"ハルネル が起動中です。\n一旦終了させてください。";
const wchar_t kPayloadIncomplete[] =
    L"アップデートファイル自体のデータが揃っていないか、または破損しています。\n"
    L"お手数をおかけいたしますがもう一度ダウンロードし直してみてください。";
const wchar_t kConfirmNotice[] =
    L"これから ver1.01 へのアップデートをおこないます。\r\n\r\n※ご注意\n\n"
    L"ver1.00の時に作成されましたセーブデータを使用しますと\n"
    L"場合により、描画がおかしくなったりエラーなどの現象が起きる恐れがございます。ご了承くださいませ。";
const wchar_t kConfirmStart[] =
    L"ver1.01 へアップデート処理を開始します。よろしいですか\uFF1F\r\n\r\n"
    L"アップデート処理には数十秒\uFF5E数分程かかりますので\r\n"
    L"完了メッセージが表示されるまで、そのままでお待ちください。";
const wchar_t kCancelled[] = L"アップデート処理をキャンセルしました。";
const wchar_t kUpdated[] =
    L"ver1.01 にアップデート成功しました。\r\n\r\n"
    L"ゲームを起動して、タイトルバーに「(ver1.01)」と表示されているかご確認ください。";
const wchar_t kCopyFailed[] =
    L"一部ファイルがコピー出来ませんでした。\n\n読み取り専用属性になっている可能性があります。";

using boxes::Box;
using boxes::NextBox;
using boxes::Press;
using boxes::Read;

struct ExpectedBox {
    const wchar_t* caption;
    const wchar_t* text;
    bool confirmation;  // Yes/No with the information icon; otherwise OK alone
};
const ExpectedBox kNotice{kConfirmCaption, kConfirmNotice, true};
const ExpectedBox kStart{kConfirmCaption, kConfirmStart, true};
const ExpectedBox kDone{L"完了", kUpdated, false};
const ExpectedBox kNo1{L"エラー No.1", kNotInstalled, false};
const ExpectedBox kNo2{L"エラー No.2", kNotInstalled, false};
const ExpectedBox kNo3{L"エラー No.3", kNotInstalled, false};
const ExpectedBox kRunning{L"エラー", kGameRunning, false};
const ExpectedBox kPayload{L"エラー", kPayloadIncomplete, false};
const ExpectedBox kCancel{L"中断", kCancelled, false};
const ExpectedBox kFailed{L"失敗", kCopyFailed, false};

// --- Files and registry ---
void MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
}

std::wstring Parent(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

void WriteFile(const std::wstring& path, const std::string& contents) {
    MakeFolders(Parent(path));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot write the fixture";
    DWORD written = 0;
    ::WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
}

// The file's contents, or "(missing)".
std::string ReadFile(const std::wstring& path) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(missing)";
    char buffer[256];
    DWORD read = 0;
    ::ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    CloseHandle(file);
    return std::string(buffer, read);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

void DeleteInstallKey() {
    RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KORVEN");
}

// Sets "Dir" to raw bytes of the given type (what an installer might write).
void SetDirBytes(const std::string& bytes, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              0);
    RegSetValueExA(key, "Dir", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

void SetDir(const std::wstring& dir) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              0);
    RegSetValueExW(key, L"Dir", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                   static_cast<DWORD>((dir.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

const char* const kEntries[] = {"inst.ini", "pac\\zmbin.zmk", "pac\\update1.zmk"};

std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + strlen(ascii)); }

// The game's instance name: its executable path with the capitals A-Z
// lowered and the backslashes turned into colons.
std::wstring InstanceName(const std::wstring& installDir) {
    std::wstring name = installDir + L"harunel.exe";
    for (wchar_t& c : name) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 0x20);
        if (c == L'\\') c = L':';
    }
    return name;
}

// The game's side of the contract: a mutex and a top-level window, both
// named with its instance name, each made on demand.
struct Game {
    HANDLE mutex = nullptr;
    HWND window = nullptr;
    std::wstring name;

    void Start(const std::wstring& instanceName, bool withMutex, bool withWindow) {
        name = instanceName;
        if (withMutex) mutex = CreateMutexW(nullptr, FALSE, name.c_str());
        if (withWindow) {
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = DefWindowProcW;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = name.c_str();
            RegisterClassW(&windowClass);
            window = CreateWindowExW(0, name.c_str(), L"harunel", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        }
        ASSERT_TRUE(!withMutex || mutex != nullptr) << "the game's mutex";
        ASSERT_TRUE(!withWindow || window != nullptr) << "the game's window";
    }
    ~Game() {
        if (window != nullptr) {
            DestroyWindow(window);
            UnregisterClassW(name.c_str(), GetModuleHandleW(nullptr));
        }
        if (mutex != nullptr) CloseHandle(mutex);
    }
};

// --- Running the updater ---
using Updater = boxes::Process;

// Starts Updater.exe, and checks that the system runs it as the program it
// is (a 32-bit Updater.exe as a 32-bit process).
bool Start(Updater& updater, const std::wstring& currentDir, DWORD flags = 0) {
    if (!boxes::Start(updater, gUpdater, currentDir, flags)) return false;
    EXPECT_EQ(boxes::ProcessBits(updater.process.hProcess), gUpdaterBits);
    return true;
}

constexpr DWORD kBoxTimeoutMs = 60000;

struct Outcome {
    std::vector<Box> boxes;
    DWORD exitCode = STILL_ACTIVE;
};

// Waits up to waitMs for the updater to end, stops it (exit code 99) if it
// has not, and releases it; its exit code.
DWORD End(Updater& updater, DWORD waitMs) {
    if (WaitForSingleObject(updater.process.hProcess, waitMs) != WAIT_OBJECT_0) {
        TerminateProcess(updater.process.hProcess, 99);
        WaitForSingleObject(updater.process.hProcess, 5000);
    }
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(updater.process.hProcess, &exitCode);
    CloseHandle(updater.process.hThread);
    CloseHandle(updater.process.hProcess);
    return exitCode;
}

// Answers every box from the script (OK where the script has run out) and
// waits for the updater to end.
Outcome Finish(Updater& updater, const std::vector<int>& answers, Outcome outcome = Outcome()) {
    for (size_t i = outcome.boxes.size(); i < 10; ++i) {
        HWND box = NextBox(updater, kBoxTimeoutMs);
        if (box == nullptr) break;
        outcome.boxes.push_back(Read(box));
        const Box& seen = outcome.boxes.back();
        int button = i < answers.size() ? answers[i] : IDOK;
        if (button == IDOK && !seen.ok) button = seen.no ? IDNO : IDCANCEL;
        Press(box, button);
    }
    outcome.exitCode = End(updater, kBoxTimeoutMs);
    return outcome;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            char escaped[10];
            snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    return out;
}

void ExpectBoxes(const Outcome& outcome, const std::vector<ExpectedBox>& expected) {
    ASSERT_EQ(outcome.boxes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("box " + std::to_string(i + 1));
        const Box& seen = outcome.boxes[i];
        EXPECT_EQ(Narrow(seen.caption), Narrow(expected[i].caption));
        EXPECT_EQ(Narrow(seen.text), Narrow(expected[i].text));
        EXPECT_EQ(seen.yes, expected[i].confirmation);
        EXPECT_EQ(seen.no, expected[i].confirmation);
        EXPECT_EQ(seen.ok, !expected[i].confirmation);
        EXPECT_FALSE(seen.cancel);
        EXPECT_EQ(seen.icon, expected[i].confirmation);
    }
}

// One test's world: an installation of version 1.00 and an update package
// with the 1.01 files under a folder of its own.
class UpdaterTest : public testing::Test {
   protected:
    std::wstring root;     // this test's folder
    std::wstring install;  // installation folder, with its trailing backslash
    std::wstring package;  // the unpacked package: Updater's current directory

    void SetUp() override {
        root = gWork + L"\\" + Wide(testing::UnitTest::GetInstance()->current_test_info()->name());
        RemoveTree(root);
        DeleteInstallKey();
        Install(root + L"\\game\\harunel\\");
        package = root + L"\\package";
        for (const char* entry : kEntries)
            WriteFile(package + L"\\data\\" + Wide(entry), std::string("1.01 ") + entry);
    }
    void TearDown() override {
        DeleteInstallKey();
        if (!HasFailure()) RemoveTree(root);
    }

    void Install(const std::wstring& dir, bool registered = true) {
        install = dir;
        WriteFile(install + L"harunel.exe", "game");
        for (const char* entry : kEntries) WriteFile(install + Wide(entry), std::string("1.00 ") + entry);
        if (registered) SetDir(install);
    }

    Outcome Run(const std::vector<int>& answers, const std::wstring& currentDir = L"") {
        Updater updater;
        EXPECT_TRUE(Start(updater, currentDir.empty() ? package : currentDir));
        return Finish(updater, answers);
    }

    // Which installation files hold the update (true) or their old contents.
    void ExpectInstallation(bool instIni, bool zmbin, bool update1, const std::wstring& dir = L"") {
        const std::wstring at = dir.empty() ? install : dir;
        const bool updated[] = {instIni, zmbin, update1};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(ReadFile(at + Wide(kEntries[i])),
                      std::string(updated[i] ? "1.01 " : "1.00 ") + kEntries[i]);
        }
    }
};

TEST_F(UpdaterTest, FullUpdate) {
    const Outcome outcome = Run({IDYES, IDYES, IDOK});
    ExpectBoxes(outcome, {kNotice, kStart, kDone});
    EXPECT_EQ(outcome.exitCode, 0u);
    ExpectInstallation(true, true, true);
}

TEST_F(UpdaterTest, NoInstallationKey) {
    DeleteInstallKey();
    const Outcome outcome = Run({});
    ExpectBoxes(outcome, {kNo1});
    EXPECT_EQ(outcome.exitCode, 0u);
    ExpectInstallation(false, false, false);
}

TEST_F(UpdaterTest, NoDirValue) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key), 0);
    RegDeleteValueW(key, L"Dir");
    RegCloseKey(key);
    ExpectBoxes(Run({}), {kNo2});
}

TEST_F(UpdaterTest, DirLongerThanTheBuffer) {
    SetDirBytes(std::string(261, 'x') + '\0');
    ExpectBoxes(Run({}), {kNo2});
}

TEST_F(UpdaterTest, InstallationEntryMissing) {
    DeleteFileW((install + L"inst.ini").c_str());
    ExpectBoxes(Run({}), {kNo3});
    WriteFile(install + L"inst.ini", "1.00 inst.ini");
    RemoveTree(install + L"pac");
    ExpectBoxes(Run({}), {kNo3});
}

TEST_F(UpdaterTest, DirWithoutTrailingBackslash) {
    SetDir(install.substr(0, install.size() - 1));
    ExpectBoxes(Run({}), {kNo3});
    ExpectInstallation(false, false, false);
}

TEST_F(UpdaterTest, GameRunning) {
    Game game;
    game.Start(InstanceName(install), true, true);
    const Outcome outcome = Run({});
    ExpectBoxes(outcome, {kRunning});
    EXPECT_EQ(outcome.exitCode, 0u);
    ExpectInstallation(false, false, false);
}

TEST_F(UpdaterTest, MutexOrWindowAloneIsNotARunningGame) {
    {
        Game game;
        game.Start(InstanceName(install), true, false);
        ExpectBoxes(Run({IDNO}), {kNotice, kCancel});
    }
    Game game;
    game.Start(InstanceName(install), false, true);
    ExpectBoxes(Run({IDYES, IDYES}), {kNotice, kStart, kDone});
    ExpectInstallation(true, true, true);
}

TEST_F(UpdaterTest, IncompletePayload) {
    DeleteFileW((package + L"\\data\\pac\\update1.zmk").c_str());
    ExpectBoxes(Run({}), {kPayload});
    ExpectInstallation(false, false, false);
}

TEST_F(UpdaterTest, StartedOutsideThePackage) { ExpectBoxes(Run({}, root), {kPayload}); }

TEST_F(UpdaterTest, DeclinedAtEitherConfirmation) {
    ExpectBoxes(Run({IDNO}), {kNotice, kCancel});
    ExpectInstallation(false, false, false);
    const Outcome outcome = Run({IDYES, IDNO});
    ExpectBoxes(outcome, {kNotice, kStart, kCancel});
    EXPECT_EQ(outcome.exitCode, 0u);
    ExpectInstallation(false, false, false);
}

TEST_F(UpdaterTest, ReadOnlyTargetFailsAloneAndNothingIsRolledBack) {
    const std::wstring zmbin = install + L"pac\\zmbin.zmk";
    SetFileAttributesW(zmbin.c_str(), FILE_ATTRIBUTE_READONLY);
    const Outcome outcome = Run({IDYES, IDYES});
    ExpectBoxes(outcome, {kNotice, kStart, kFailed});
    EXPECT_EQ(outcome.exitCode, 0u);
    ExpectInstallation(true, false, true);
}

// The package as it is unpacked, Updater.exe beside data\, with a DLL
// planted beside it under the name of the visual-style library, which the
// system loads by name for the updater's first message box: the planted
// code never runs. Wine prefers its own built-in libraries to files it
// finds; told to prefer files for Updater.exe, it searches as Windows does.
TEST_F(UpdaterTest, PlantedDllBesideItNeverRuns) {
    if (gPlanted.empty()) GTEST_SKIP() << "no DLL to plant was given";
    const std::wstring updater = package + L"\\Updater.exe";
    ASSERT_TRUE(CopyFileW(gUpdater.c_str(), updater.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(gPlanted.c_str(), (package + L"\\uxtheme.dll").c_str(), FALSE));
    const wchar_t kWineAppKey[] = L"Software\\Wine\\AppDefaults\\Updater.exe";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kWineAppKey) + L"\\DllOverrides").c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              0);
    const wchar_t kNativeFirst[] = L"native,builtin";
    RegSetValueExW(key, L"uxtheme", 0, REG_SZ, reinterpret_cast<const BYTE*>(kNativeFirst),
                   sizeof kNativeFirst);
    RegCloseKey(key);

    Updater started;
    ASSERT_TRUE(boxes::Start(started, updater, package));
    const Outcome outcome = Finish(started, {IDYES, IDYES, IDOK});
    RegDeleteTreeW(HKEY_CURRENT_USER, kWineAppKey);

    EXPECT_EQ(GetFileAttributesW((package + L"\\planted-dll-ran").c_str()), INVALID_FILE_ATTRIBUTES)
        << "the planted DLL ran in the updater";
    ExpectBoxes(outcome, {kNotice, kStart, kDone});
    ExpectInstallation(true, true, true);
}

TEST_F(UpdaterTest, PacIsAFile) {
    RemoveTree(install + L"pac");
    WriteFile(install + L"pac", "not a folder");
    ExpectBoxes(Run({IDYES, IDYES}), {kNotice, kStart, kFailed});
    EXPECT_EQ(ReadFile(install + L"inst.ini"), "1.01 inst.ini");
    EXPECT_EQ(ReadFile(install + L"pac"), "not a folder");
}

// Folder names whose Shift_JIS trail bytes are 0x5C and capital letters.
TEST_F(UpdaterTest, JapaneseFolderNames) {
    Install(root + L"\\表\\ゲーム\\Harunel\\");
    {
        Game game;
        game.Start(InstanceName(install), true, true);
        ExpectBoxes(Run({}), {kRunning});
    }
    ExpectBoxes(Run({IDYES, IDYES}), {kNotice, kStart, kDone});
    ExpectInstallation(true, true, true);
}

TEST_F(UpdaterTest, EmptyDirMeansTheCurrentDirectory) {
    Install(package + L"\\", false);
    SetDir(L"");
    ExpectBoxes(Run({IDYES, IDYES}), {kNotice, kStart, kDone});
    ExpectInstallation(true, true, true);
}

// The installation prefix at the length limits: 245 bytes is the longest
// for which every installation path fits; one more is refused up front.
TEST_F(UpdaterTest, DirNearTheLengthLimit) {
    const std::wstring base = root + L"\\";
    ASSERT_LT(base.size() + 2, 245u);
    const std::wstring longest = base + std::wstring(245 - base.size() - 1, L'a') + L"\\";
    ASSERT_EQ(longest.size(), 245u);
    Install(longest);
    ExpectBoxes(Run({IDYES, IDYES}), {kNotice, kStart, kDone});
    ExpectInstallation(true, true, true);

    const std::wstring tooLong = base + std::wstring(246 - base.size() - 1, L'b') + L"\\";
    Install(tooLong);
    ExpectBoxes(Run({}), {kNo3});
    ExpectInstallation(false, false, false);
}

TEST_F(UpdaterTest, SecondUpdaterEndsAtOnceWhileTheFirstWaits) {
    Updater first;
    ASSERT_TRUE(Start(first, package));
    HWND box = NextBox(first, kBoxTimeoutMs);
    ASSERT_NE(box, nullptr);
    Outcome outcome;
    outcome.boxes.push_back(Read(box));

    Updater second;
    ASSERT_TRUE(Start(second, package));
    const Outcome secondOutcome = Finish(second, {});
    EXPECT_TRUE(secondOutcome.boxes.empty());
    EXPECT_EQ(secondOutcome.exitCode, 0u);

    Press(box, IDYES);
    outcome = Finish(first, {IDYES, IDYES, IDOK}, outcome);
    ExpectBoxes(outcome, {kNotice, kStart, kDone});
    EXPECT_EQ(outcome.exitCode, 0u);
    ExpectInstallation(true, true, true);

    // Once the first has ended the guard is free again.
    ExpectBoxes(Run({IDNO}), {kNotice, kCancel});
}

TEST_F(UpdaterTest, OfSeveralStartedTogetherExactlyOneRuns) {
    constexpr int kCount = 3;
    Updater updaters[kCount];
    for (Updater& updater : updaters) ASSERT_TRUE(Start(updater, package));
    int withBoxes = 0;
    for (Updater& updater : updaters) {
        const Outcome outcome = Finish(updater, {IDNO});
        EXPECT_EQ(outcome.exitCode, 0u);
        if (!outcome.boxes.empty()) {
            ++withBoxes;
            ExpectBoxes(outcome, {kNotice, kCancel});
        }
    }
    EXPECT_EQ(withBoxes, 1);
    ExpectInstallation(false, false, false);
}

// --- Under load ---

// The number of a setting from the environment, or its default.
int Setting(const char* name, int fallback) {
    const char* value = getenv(name);
    return value != nullptr && atoi(value) > 0 ? atoi(value) : fallback;
}

// Whether a mutex of that name exists (as another process sees it).
bool MutexExists(const wchar_t* name) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (mutex != nullptr) CloseHandle(mutex);
    return existed;
}

// Round after round, several updaters released at the same moment: in each
// exactly one shows boxes, and it shows them alone (its first box is
// answered only once all the others have ended); none is left hanging; and
// once the round is over the guard is free again. E2E_LOAD_UPDATERS and
// E2E_LOAD_ROUNDS change the load (8 and 20).
TEST_F(UpdaterTest, UnderLoadExactlyOneOfManyRunsEveryRound) {
    const int count = Setting("E2E_LOAD_UPDATERS", 8);
    const int rounds = Setting("E2E_LOAD_ROUNDS", 20);
    constexpr DWORD kRoundTimeoutMs = 120000;
    int startFailures = 0;
    for (int round = 1; round <= rounds && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<Updater> updaters(static_cast<size_t>(count));
        bool allStarted = true;
        DWORD startError = 0;
        for (Updater& updater : updaters) {
            if (!Start(updater, package, CREATE_SUSPENDED)) {
                allStarted = false;
                startError = GetLastError();
                break;
            }
        }
        if (!allStarted) {
            // Wine's loader, not the updater, can fail a start now and then
            // under this load (none of the updaters has run yet): the round
            // starts again, a few times at most.
            for (Updater& updater : updaters)
                if (updater.process.hProcess != nullptr) End(updater, 0);
            ASSERT_LT(++startFailures, 3) << "updaters could not be started, last error " << startError;
            printf("round %d: an updater could not be started (error %lu); the round starts again\n", round,
                   static_cast<unsigned long>(startError));
            --round;
            continue;
        }
        for (Updater& updater : updaters) ResumeThread(updater.process.hThread);

        // Until every updater has ended or shows a box.
        std::vector<HWND> firstBox(updaters.size(), nullptr);
        const DWORD start = GetTickCount();
        for (;;) {
            size_t waiting = 0;
            for (size_t i = 0; i < updaters.size(); ++i) {
                if (firstBox[i] == nullptr) firstBox[i] = boxes::ShownBox(updaters[i]);
                if (firstBox[i] == nullptr &&
                    WaitForSingleObject(updaters[i].process.hProcess, 0) != WAIT_OBJECT_0)
                    ++waiting;
            }
            if (waiting == 0 || GetTickCount() - start > kRoundTimeoutMs) break;
            Sleep(20);
        }

        int withBoxes = 0;
        for (size_t i = 0; i < updaters.size(); ++i) {
            Outcome outcome;
            if (firstBox[i] != nullptr) {
                ++withBoxes;
                outcome.boxes.push_back(Read(boxes::TakeBox(updaters[i], firstBox[i])));
                Press(firstBox[i], IDNO);
            }
            outcome = Finish(updaters[i], {IDNO}, outcome);
            EXPECT_EQ(outcome.exitCode, 0u) << "updater " << i << (outcome.exitCode == 99 ? " hung" : "");
            if (!outcome.boxes.empty()) ExpectBoxes(outcome, {kNotice, kCancel});
        }
        EXPECT_EQ(withBoxes, 1);
        EXPECT_FALSE(MutexExists(L"ZOLMIR_Updater")) << "the guard outlived its updaters";
    }
    ExpectInstallation(false, false, false);
}

}  // namespace

// A full Windows path; a Unix path is taken as seen through Wine's drive Z:.
std::wstring FullPath(const char* given) {
    std::string path = given;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) c = c == '/' ? '\\' : c;
    wchar_t full[MAX_PATH];
    GetFullPathNameW(Wide(path.c_str()).c_str(), MAX_PATH, full, nullptr);
    return full;
}

// Arguments: the path of Updater.exe, and optionally that of a planted DLL
// built for the same kind of program. The tests work in e2e-work under the
// current directory.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: e2e_tests PATH\\TO\\Updater.exe [PATH\\TO\\planted.dll]\n");
        return 2;
    }
    const std::string path = argv[1];
    gUpdater = FullPath(argv[1]);
    if (argc == 3) gPlanted = FullPath(argv[2]);
    wchar_t full[MAX_PATH];
    gUpdaterBits = boxes::ImageBits(gUpdater);
    if (gUpdaterBits == 0) {
        fprintf(stderr, "%s is no x86 Windows program\n", path.c_str());
        return 2;
    }
    printf("Updater.exe under test: %s, a %d-bit program (run by a %d-bit test program)\n", path.c_str(),
           gUpdaterBits, static_cast<int>(sizeof(void*) * 8));
    fflush(stdout);
    GetCurrentDirectoryW(MAX_PATH, full);
    gWork = std::wstring(full) + L"\\e2e-work";
    MakeFolders(gWork);
    return RUN_ALL_TESTS();
}
