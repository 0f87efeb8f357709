#include "app/run_update.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/messages.h"
#include "sim/simwin.h"
#include "unit/cp932.h"

namespace {

// --- What the user must see, written out independently in UTF-8. ---
const std::string kNotInstalled =
    "ハルネル が正常にインストールされていません\nインストール後、実行してください";
const std::string kGameRunning = "ハルネル が起動中です。\n一旦終了させてください。";
const std::string kPayloadIncomplete =
    "アップデートファイル自体のデータが揃っていないか、または破損しています。\n"
    "お手数をおかけいたしますがもう一度ダウンロードし直してみてください。";
const std::string kConfirmNotice =
    "これから ver1.01 へのアップデートをおこないます。\r\n\r\n※ご注意\n\n"
    "ver1.00の時に作成されましたセーブデータを使用しますと\n"
    "場合により、描画がおかしくなったりエラーなどの現象が起きる恐れがございます。ご了承くださいませ。";
const std::string kConfirmStart =
    "ver1.01 へアップデート処理を開始します。よろしいですか？\r\n\r\n"
    "アップデート処理には数十秒～数分程かかりますので\r\n"
    "完了メッセージが表示されるまで、そのままでお待ちください。";
const std::string kCancelled = "アップデート処理をキャンセルしました。";
const std::string kUpdated =
    "ver1.01 にアップデート成功しました。\r\n\r\n"
    "ゲームを起動して、タイトルバーに「(ver1.01)」と表示されているかご確認ください。";
const std::string kCopyFailed =
    "一部ファイルがコピー出来ませんでした。\n\n読み取り専用属性になっている可能性があります。";
const std::string kConfirmCaption = "ハルネル アップデート";

struct ExpectedBox {
    std::string text;     // UTF-8
    std::string caption;  // UTF-8
    UINT style;
};
const ExpectedBox kNotice{kConfirmNotice, kConfirmCaption, 0x44};
const ExpectedBox kStart{kConfirmStart, kConfirmCaption, 0x44};
const ExpectedBox kNo1{kNotInstalled, "エラー No.1", 0};
const ExpectedBox kNo2{kNotInstalled, "エラー No.2", 0};
const ExpectedBox kNo3{kNotInstalled, "エラー No.3", 0};
const ExpectedBox kRunning{kGameRunning, "エラー", 0};
const ExpectedBox kPayload{kPayloadIncomplete, "エラー", 0};
const ExpectedBox kCancel{kCancelled, "中断", 0};
const ExpectedBox kDone{kUpdated, "完了", 0};
const ExpectedBox kFailed{kCopyFailed, "失敗", 0};

const char kKey[] = "Software\\KORVEN\\harunel";
const std::string kDir = "C:\\Games\\harunel\\";
const std::string kInstanceName = "c::games:harunel:harunel.exe";
const char* const kTargets[] = {"inst.ini", "pac\\zmbin.zmk", "pac\\update1.zmk"};

std::string New(const std::string& entry) { return "1.01 " + entry; }

// A game at version 1.00 installed under root (registered as "Dir"), and the
// update payload in the current directory C:\pkg.
void Install(const std::string& root = kDir) {
    sim::Reset();
    sim::AddKey(kKey);
    sim::SetValue(kKey, "Dir", REG_SZ, root + '\0');
    sim::AddFile(root + "harunel.exe", "game");
    for (const char* entry : kTargets) sim::AddFile(root + entry, std::string("1.00 ") + entry);
    for (const char* entry : kTargets) sim::AddFile(std::string("data\\") + entry, New(entry));
}

void InstallWithoutPayload() {
    Install();
    sim::Remove("data");
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

struct Scenario {
    const char* name;
    std::function<void()> prepare;
    std::vector<int> answers;
    std::vector<ExpectedBox> boxes;
    int result;
    std::vector<std::string> replaced;  // full paths that get the payload's contents
    int attributeQueries;               // GetFileAttributesA calls expected
};

std::vector<std::string> AllTargets(const std::string& root) {
    return {root + "inst.ini", root + "pac\\zmbin.zmk", root + "pac\\update1.zmk"};
}

// A prefix of the given length whose folders exist: C:\aaa...\ .
std::string PrefixOfLength(size_t length) { return "C:\\" + Repeat('a', length - 4) + "\\"; }

const std::string kJapaneseDir = Cp932("D:\\ゲーム\\ソフト\\表\\");
const std::string kJapaneseName = Cp932("d::ゲーム:ソフト:表:harunel.exe");

// Installs, then changes the fixture for one scenario.
template <typename Change>
std::function<void()> InstallAnd(Change change) {
    return [change] {
        Install();
        change();
    };
}

void GameRuns(const std::string& name) {
    sim::AddForeignMutex(name);
    sim::AddWindowClass(name);
}

std::vector<Scenario> Scenarios() {
    const int kAll = 6;  // two installation and four payload queries
    const std::vector<ExpectedBox> kSuccess = {kNotice, kStart, kDone};
    const std::vector<ExpectedBox> kCopyFailure = {kNotice, kStart, kFailed};
    // clang-format off
    return {
        {"full update", [] { Install(); }, {IDYES, IDYES}, kSuccess, 0, AllTargets(kDir), kAll},
        {"no key", [] { sim::Reset(); }, {}, {kNo1}, -1, {}, 0},
        {"key refuses full access", InstallAnd([] { sim::AddKey(kKey, false); }), {}, {kNo1}, -1, {}, 0},
        {"no Dir value", InstallAnd([] { sim::RemoveValue(kKey, "Dir"); }), {}, {kNo2}, -1, {}, 0},
        {"Dir of 262 bytes with terminator",
         InstallAnd([] { sim::SetValue(kKey, "Dir", REG_SZ, Repeat('x', 261) + '\0'); }), {}, {kNo2}, -1, {}, 0},
        {"Dir of 261 bytes stored without terminator",
         InstallAnd([] { sim::SetValue(kKey, "Dir", REG_SZ, Repeat('x', 261)); }), {}, {kNo2}, -1, {}, 0},
        {"binary Dir filling the buffer",
         InstallAnd([] { sim::SetValue(kKey, "Dir", REG_BINARY, Repeat('x', 261)); }), {}, {kNo2}, -1, {}, 0},
        {"short binary Dir is used as delivered",
         InstallAnd([] { sim::SetValue(kKey, "Dir", REG_BINARY, kDir); }), {}, kSuccess, 0, AllTargets(kDir), kAll},
        {"Dir stored without terminator gets one",
         InstallAnd([] { sim::SetValue(kKey, "Dir", REG_SZ, kDir); }), {}, kSuccess, 0, AllTargets(kDir), kAll},
        {"Dir with bytes after its terminator",
         InstallAnd([] { sim::SetValue(kKey, "Dir", REG_SZ, kDir + '\0' + "D:\\old\\" + '\0'); }),
         {}, kSuccess, 0, AllTargets(kDir), kAll},
        {"Dir without trailing backslash",
         InstallAnd([] { sim::SetValue(kKey, "Dir", REG_SZ, "C:\\Games\\harunel"); }), {}, {kNo3}, -1, {}, 2},
        {"empty Dir: installation in the current directory",
         [] { Install("C:\\pkg\\"); sim::SetValue(kKey, "Dir", REG_SZ, std::string(1, '\0')); },
         {}, kSuccess, 0, AllTargets("C:\\pkg\\"), kAll},
        {"inst.ini missing", InstallAnd([] { sim::Remove(kDir + "inst.ini"); }), {}, {kNo3}, -1, {}, 2},
        {"pac missing", InstallAnd([] { sim::Remove(kDir + "pac"); }), {}, {kNo3}, -1, {}, 2},
        {"pac is a file",
         InstallAnd([] { sim::Remove(kDir + "pac"); sim::AddFile(kDir + "pac", "not a folder"); }),
         {}, kCopyFailure, -1, {kDir + "inst.ini"}, kAll},
        {"game running", InstallAnd([] { GameRuns(kInstanceName); }), {}, {kRunning}, -1, {}, 2},
        {"game running, payload incomplete",
         [] { InstallWithoutPayload(); GameRuns(kInstanceName); }, {}, {kRunning}, -1, {}, 2},
        {"game running, installation incomplete",
         InstallAnd([] { sim::Remove(kDir + "pac"); GameRuns(kInstanceName); }), {}, {kNo3}, -1, {}, 2},
        {"probe cannot tell", InstallAnd([] { sim::FailFunction("CreateMutexA"); }), {}, {kRunning}, -1, {}, 2},
        {"mutex without window",
         InstallAnd([] { sim::AddForeignMutex(kInstanceName); }), {}, kSuccess, 0, AllTargets(kDir), kAll},
        {"window without mutex",
         InstallAnd([] { sim::AddWindowClass(kInstanceName); }), {}, kSuccess, 0, AllTargets(kDir), kAll},
        {"payload folder missing", [] { InstallWithoutPayload(); }, {}, {kPayload}, -1, {}, kAll},
        {"payload inst.ini missing", InstallAnd([] { sim::Remove("data\\inst.ini"); }), {}, {kPayload}, -1, {}, kAll},
        {"payload zmbin.zmk missing",
         InstallAnd([] { sim::Remove("data\\pac\\zmbin.zmk"); }), {}, {kPayload}, -1, {}, kAll},
        {"payload update1.zmk missing",
         InstallAnd([] { sim::Remove("data\\pac\\update1.zmk"); }), {}, {kPayload}, -1, {}, kAll},
        {"started from another directory",
         InstallAnd([] { sim::SetCurrentDir("C:\\Users\\me"); }), {}, {kPayload}, -1, {}, kAll},
        {"No at the first confirmation", [] { Install(); }, {IDNO}, {kNotice, kCancel}, -1, {}, kAll},
        {"Yes, then No", [] { Install(); }, {IDYES, IDNO}, {kNotice, kStart, kCancel}, -1, {}, kAll},
        {"any answer but No is consent", [] { Install(); }, {IDOK, 0}, kSuccess, 0, AllTargets(kDir), kAll},
        {"first confirmation cannot be shown",
         InstallAnd([] { sim::FailFunction("MessageBoxA", 1); }), {}, {kStart, kDone}, 0, AllTargets(kDir), kAll},
        {"installed zmbin.zmk read-only",
         InstallAnd([] { sim::AddFile(kDir + "pac\\zmbin.zmk", "1.00 pac\\zmbin.zmk", true); }),
         {}, kCopyFailure, -1, {kDir + "inst.ini", kDir + "pac\\update1.zmk"}, kAll},
        {"missing target is created",
         InstallAnd([] { sim::Remove(kDir + "pac\\update1.zmk"); }), {}, kSuccess, 0, AllTargets(kDir), kAll},
        {"Japanese folders with trail bytes 0x5C",
         [] { Install(kJapaneseDir); }, {}, kSuccess, 0, AllTargets(kJapaneseDir), kAll},
        {"Japanese folders, game running",
         [] { Install(kJapaneseDir); GameRuns(kJapaneseName); }, {}, {kRunning}, -1, {}, 2},
        {"prefix of 245 bytes, the longest accepted",
         [] { Install(PrefixOfLength(245)); }, {}, kSuccess, 0, AllTargets(PrefixOfLength(245)), kAll},
        {"prefix of 246 bytes refused after both queries",
         [] { Install(PrefixOfLength(246)); }, {}, {kNo3}, -1, {}, 2},
        {"prefix of 253 bytes: inst.ini cannot be composed",
         [] { Install(PrefixOfLength(253)); }, {}, {kNo3}, -1, {}, 1},
        {"prefix of 260 bytes",
         InstallAnd([] { sim::SetValue(kKey, "Dir", REG_SZ, PrefixOfLength(260) + '\0'); }), {}, {kNo3}, -1, {}, 0},
    };
    // clang-format on
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

void ExpectBoxes(const std::vector<ExpectedBox>& expected) {
    const std::vector<sim::Box>& shown = sim::Boxes();
    ASSERT_EQ(shown.size(), expected.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE("box " + std::to_string(i + 1));
        EXPECT_EQ(shown[i].owner, nullptr);
        EXPECT_EQ(Hex(shown[i].text), Hex(Cp932(expected[i].text)));
        EXPECT_EQ(Hex(shown[i].caption), Hex(Cp932(expected[i].caption)));
        EXPECT_EQ(shown[i].style, expected[i].style);
    }
}

// Everything on disk is as before, but the replaced targets, which now hold
// the payload's contents; and no copy was made before both confirmations.
void ExpectFiles(const std::map<std::string, sim::Entry>& before, const std::vector<std::string>& replaced) {
    std::map<std::string, sim::Entry> expected = before;
    for (const std::string& target : replaced) {
        for (const std::string& entry :
             {std::string(kTargets[0]), std::string(kTargets[1]), std::string(kTargets[2])}) {
            if (target.size() >= entry.size() &&
                target.compare(target.size() - entry.size(), entry.size(), entry) == 0) {
                expected[target] = sim::Entry{false, false, New(entry)};
            }
        }
    }
    const std::map<std::string, sim::Entry> after = sim::Snapshot();
    EXPECT_EQ(after.size(), expected.size());
    for (const auto& item : expected) {
        const auto found = after.find(item.first);
        ASSERT_NE(found, after.end()) << item.first << " vanished";
        EXPECT_TRUE(found->second == item.second)
            << item.first << " holds \"" << found->second.contents << '"';
    }
}

void ExpectNoCopyBeforeConsent() {
    int confirmations = 0;
    for (const sim::Call& call : sim::Calls()) {
        if (call.function == "CopyFileA") {
            EXPECT_GE(confirmations, 2) << "copied before consent";
        }
        if (call.function == "MessageBoxA") ++confirmations;
    }
}

TEST(RunUpdate, Scenarios) {
    for (const Scenario& s : Scenarios()) {
        SCOPED_TRACE(s.name);
        s.prepare();
        sim::Answer(s.answers);
        const auto before = sim::Snapshot();

        EXPECT_EQ(RunUpdate(), s.result);

        ExpectBoxes(s.boxes);
        ExpectFiles(before, s.replaced);
        ExpectNoCopyBeforeConsent();
        const auto& calls = sim::Calls();
        EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                                [](const sim::Call& c) { return c.function == "GetFileAttributesA"; }),
                  s.attributeQueries);
        EXPECT_EQ(sim::OpenHandleCount(), 0);
        EXPECT_EQ(sim::OpenKeyCount(), s.boxes[0].caption == "エラー No.1" ? 0 : 1);
    }
}

// The whole conversation of a successful run with the platform, in order.
TEST(RunUpdate, TypicalRunCallsInOrder) {
    Install();
    ASSERT_EQ(RunUpdate(), 0);
    std::vector<std::string> calls;
    for (const sim::Call& call : sim::Calls()) calls.push_back(call.function + "(" + call.argument + ")");
    const std::string caption = Cp932(kConfirmCaption);
    const std::vector<std::string> expected = {
        "RegOpenKeyExA(Software\\KORVEN\\harunel)",
        "RegQueryValueExA(Dir)",
        "GetFileAttributesA(C:\\Games\\harunel\\inst.ini)",
        "GetFileAttributesA(C:\\Games\\harunel\\pac)",
        "CreateMutexA(c::games:harunel:harunel.exe)",
        "GetLastError()",
        "CloseHandle(0x100)",
        "GetFileAttributesA(data)",
        "GetFileAttributesA(data\\inst.ini)",
        "GetFileAttributesA(data\\pac\\zmbin.zmk)",
        "GetFileAttributesA(data\\pac\\update1.zmk)",
        "MessageBoxA(" + caption + ")",
        "MessageBoxA(" + caption + ")",
        "CopyFileA(data\\inst.ini -> C:\\Games\\harunel\\inst.ini)",
        "CopyFileA(data\\pac\\zmbin.zmk -> C:\\Games\\harunel\\pac\\zmbin.zmk)",
        "CopyFileA(data\\pac\\update1.zmk -> C:\\Games\\harunel\\pac\\update1.zmk)",
        "MessageBoxA(" + Cp932("完了") + ")",
    };
    EXPECT_EQ(calls, expected);
}

TEST(RunUpdate, DirWithoutBackslashQueriesTheGluedNames) {
    Install();
    sim::SetValue(kKey, "Dir", REG_SZ, "C:\\Games\\harunel");
    EXPECT_EQ(RunUpdate(), -1);
    std::vector<std::string> queried;
    for (const sim::Call& call : sim::Calls()) {
        if (call.function == "GetFileAttributesA") queried.push_back(call.argument);
    }
    EXPECT_EQ(queried, (std::vector<std::string>{"C:\\Games\\harunelinst.ini", "C:\\Games\\harunelpac"}));
}

// The module-level buffers as an earlier, longer text left them: the
// instance name and every text end where they should.
TEST(RunUpdate, LeftoversInTheModuleBuffersDoNotShowThrough) {
    Install();
    memset(InstanceNameBuffer, 'X', sizeof InstanceNameBuffer);
    memset(MessageBuffer, 'X', sizeof MessageBuffer);
    ASSERT_EQ(RunUpdate(), 0);
    EXPECT_EQ(std::string(InstanceNameBuffer), kInstanceName);
    ExpectBoxes({kNotice, kStart, kDone});
    std::vector<std::string> names;
    for (const sim::Call& call : sim::Calls())
        if (call.function == "CreateMutexA") names.push_back(call.argument);
    EXPECT_EQ(names, std::vector<std::string>{kInstanceName});
}

// The texts reach the program as code page 932 bytes; the characters that
// are easy to get wrong are spelled out byte by byte.
TEST(MessageTable, IsCodePage932) {
    EXPECT_EQ(Hex(GameTitle), "83 6E 83 8B 83 6C 83 8B ");
    EXPECT_NE(std::string(MsgConfirmStart).find("\x81\x60"), std::string::npos);          // ～
    EXPECT_NE(std::string(MsgConfirmStart).find("\x81\x48\r\n"), std::string::npos);      // ？
    EXPECT_NE(std::string(MsgConfirmStart).find("\x95\x5C\x8E\xA6"), std::string::npos);  // 表示
    EXPECT_NE(std::string(MsgUpdated).find("\x95\x5C\x8E\xA6"), std::string::npos);
    EXPECT_EQ(Hex(CaptionConfirmFormat), Hex(Cp932("%s アップデート")));
    EXPECT_EQ(std::string(MsgNotInstalled),
              Cp932("%s が正常にインストールされていません\nインストール後、実行してください"));
    EXPECT_EQ(std::string(MsgConfirmNotice).find("\r\n\r\n"),
              std::string(MsgConfirmNotice).rfind("\r\n\r\n"));
    // The longest formatted text, with its terminator.
    EXPECT_EQ(Cp932(kConfirmNotice).size() + 1, 214u);
}

// A successful run with each platform call failing in turn: the run ends with
// the message of the step that failed, and nothing is lost.
TEST(RunUpdate, FaultSweep) {
    Install();
    ASSERT_EQ(RunUpdate(), 0);
    const std::vector<sim::Call> clean = sim::Calls();

    std::map<std::string, int> seen;
    for (size_t index = 0; index < clean.size(); ++index) {
        const std::string function = clean[index].function;
        const int occurrence = ++seen[function];
        SCOPED_TRACE(std::to_string(index) + ": " + function + " #" + std::to_string(occurrence));
        Install();
        const auto before = sim::Snapshot();
        sim::FailCall(index);
        const int result = RunUpdate();

        std::vector<ExpectedBox> boxes;
        std::vector<std::string> replaced;
        int expectedResult = -1;
        if (function == "RegOpenKeyExA") {
            boxes = {kNo1};
        } else if (function == "RegQueryValueExA") {
            boxes = {kNo2};
        } else if (function == "GetFileAttributesA") {
            boxes = {occurrence <= 2 ? kNo3 : kPayload};
        } else if (function == "CreateMutexA") {
            boxes = {kRunning};
        } else if (function == "CopyFileA") {
            replaced = AllTargets(kDir);
            boxes = {kNotice, kStart, kFailed};
            replaced.erase(replaced.begin() + (occurrence - 1));
        } else if (function == "MessageBoxA") {
            // A box that cannot be shown: a confirmation counts as consent, and
            // the closing box's result is not read.
            boxes = {kNotice, kStart, kDone};
            boxes.erase(boxes.begin() + (occurrence - 1));
            replaced = AllTargets(kDir);
            expectedResult = 0;
        } else {  // GetLastError, CloseHandle: the probe still answers "not running"
            boxes = {kNotice, kStart, kDone};
            replaced = AllTargets(kDir);
            expectedResult = 0;
        }

        EXPECT_EQ(result, expectedResult);
        ExpectBoxes(boxes);
        ExpectFiles(before, replaced);
        EXPECT_EQ(sim::OpenHandleCount(), 0);
    }
}

}  // namespace
