#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/winapi.h"
#include "sim/simwin.h"

namespace {

const char kGuard[] = "ZOLMIR_Updater";
const char kKey[] = "Software\\KORVEN\\harunel";

void InstallGameAndPayload() {
    sim::Reset();
    sim::AddKey(kKey);
    sim::SetValue(kKey, "Dir", REG_SZ, std::string("C:\\Games\\harunel\\") + '\0');
    for (const char* entry : {"inst.ini", "pac\\zmbin.zmk", "pac\\update1.zmk"}) {
        sim::AddFile(std::string("C:\\Games\\harunel\\") + entry, "1.00");
        sim::AddFile(std::string("data\\") + entry, "1.01");
    }
}

int RunUpdater() { return WinMain(nullptr, nullptr, const_cast<char*>(""), 1); }

std::vector<std::string> CallsTo(const char* function) {
    std::vector<std::string> found;
    for (const sim::Call& call : sim::Calls())
        if (call.function == function) found.push_back(call.argument);
    return found;
}

size_t IndexOfLast(const char* function) {
    size_t last = 0;
    for (size_t i = 0; i < sim::Calls().size(); ++i)
        if (sim::Calls()[i].function == function) last = i;
    return last;
}

TEST(WinMain, RestrictsDllSearchThenHoldsTheGuardAcrossTheWholeUpdate) {
    InstallGameAndPayload();
    EXPECT_EQ(RunUpdater(), 0);

    const std::string names = sim::CallNames();
    EXPECT_EQ(
        names.rfind("GetModuleHandleA GetProcAddress SetDefaultDllDirectories CreateMutexA GetLastError "
                    "RegOpenKeyExA",
                    0),
        0u)
        << names;
    EXPECT_EQ(sim::Calls()[0].argument, "kernel32.dll");
    EXPECT_EQ(sim::Calls()[1].argument, "SetDefaultDllDirectories");
    EXPECT_EQ(sim::DefaultDllDirectories(), LOAD_LIBRARY_SEARCH_SYSTEM32);
    EXPECT_EQ(sim::Calls()[3].argument, kGuard);

    // The guard is closed last, after the closing message.
    ASSERT_EQ(sim::Boxes().size(), 3u);
    EXPECT_EQ(sim::Calls().back().function, "CloseHandle");
    EXPECT_GT(IndexOfLast("CloseHandle"), IndexOfLast("MessageBoxA"));
    EXPECT_EQ(sim::MutexHandleCount(kGuard), 0);
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

TEST(WinMain, EndsSilentlyWhileAnotherUpdaterHoldsTheGuard) {
    InstallGameAndPayload();
    sim::AddForeignMutex(kGuard);
    EXPECT_EQ(RunUpdater(), 0);
    EXPECT_EQ(
        sim::CallNames(),
        "GetModuleHandleA GetProcAddress SetDefaultDllDirectories CreateMutexA GetLastError CloseHandle");
    EXPECT_TRUE(sim::Boxes().empty());
    EXPECT_EQ(sim::MutexHandleCount(kGuard), 1) << "the other updater's guard must stay";
    EXPECT_EQ(sim::OpenHandleCount(), 0);
    EXPECT_EQ(sim::Contents("C:\\Games\\harunel\\inst.ini"), "1.00");
}

TEST(WinMain, RunsWithoutAGuardThatCannotBeCreated) {
    InstallGameAndPayload();
    sim::FailFunction("CreateMutexA", 1);
    EXPECT_EQ(RunUpdater(), 0);
    EXPECT_EQ(sim::Boxes().size(), 3u);
    EXPECT_EQ(sim::Contents("C:\\Games\\harunel\\inst.ini"), "1.01");
    EXPECT_EQ(CallsTo("CloseHandle").size(), 1u) << "only the probe's handle is closed";
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

TEST(WinMain, ExitCodeIsZeroWhateverTheOutcome) {
    InstallGameAndPayload();
    sim::Reset();  // no installation at all
    EXPECT_EQ(WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, const_cast<char*>("/S --force"), 0), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    EXPECT_EQ(sim::MutexHandleCount(kGuard), 0);
}

TEST(WinMain, StillRunsWhereTheDllSearchCannotBeRestricted) {
    struct Case {
        const char* name;
        void (*prepare)();
        const char* start;
    } cases[] = {
        {"old system without the function", [] { sim::SetHasDllDirectories(false); },
         "GetModuleHandleA GetProcAddress CreateMutexA"},
        {"kernel32 not found", [] { sim::FailFunction("GetModuleHandleA"); },
         "GetModuleHandleA CreateMutexA"},
        {"the call fails", [] { sim::FailFunction("SetDefaultDllDirectories"); },
         "GetModuleHandleA GetProcAddress SetDefaultDllDirectories CreateMutexA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallGameAndPayload();
        c.prepare();
        EXPECT_EQ(RunUpdater(), 0);
        EXPECT_EQ(sim::CallNames().rfind(c.start, 0), 0u) << sim::CallNames();
        EXPECT_EQ(sim::Boxes().size(), 3u);
        EXPECT_EQ(sim::Contents("C:\\Games\\harunel\\pac\\update1.zmk"), "1.01");
    }
}

// Each call of a whole successful run failing in turn: the program always
// ends with 0, releases its guard and every handle, and shows one closing
// message at most.
TEST(WinMain, FaultSweep) {
    InstallGameAndPayload();
    ASSERT_EQ(RunUpdater(), 0);
    const size_t calls = sim::Calls().size();
    for (size_t index = 0; index < calls; ++index) {
        InstallGameAndPayload();
        sim::FailCall(index);
        EXPECT_EQ(RunUpdater(), 0) << index;
        EXPECT_EQ(sim::MutexHandleCount(kGuard), 0) << index;
        EXPECT_EQ(sim::OpenHandleCount(), 0) << index;
        size_t closing = 0;
        for (const sim::Box& box : sim::Boxes()) closing += box.style == MB_OK ? 1 : 0;
        EXPECT_LE(closing, 1u) << index;
        EXPECT_GE(closing + CallsTo("MessageBoxA").size() - sim::Boxes().size(), 1u)
            << index << ": the run ended without trying to tell the user";
    }
}

}  // namespace
