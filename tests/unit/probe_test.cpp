#include "probe/probe.h"

#include <gtest/gtest.h>

#include "sim/simwin.h"

namespace {

const char kName[] = "c::games:harunel:harunel.exe";

struct ProbeCase {
    const char* name;
    bool mutex;         // the game holds a mutex of the instance name
    bool window;        // a top-level window of that class exists
    const char* fault;  // a platform function made to fail, or nullptr
    int expected;
    const char* calls;
};

const ProbeCase kProbeCases[] = {
    {"running", true, true, nullptr, 1, "CreateMutexA GetLastError CloseHandle FindWindowA"},
    {"mutex without window", true, false, nullptr, 0, "CreateMutexA GetLastError CloseHandle FindWindowA"},
    {"window without mutex: not even looked up", false, true, nullptr, 0,
     "CreateMutexA GetLastError CloseHandle"},
    {"nothing", false, false, nullptr, 0, "CreateMutexA GetLastError CloseHandle"},
    {"mutex cannot be created: no last error read", true, true, "CreateMutexA", -1, "CreateMutexA"},
    {"last error not 183 counts as new", true, true, "GetLastError", 0,
     "CreateMutexA GetLastError CloseHandle"},
    {"window lookup fails", true, true, "FindWindowA", 0,
     "CreateMutexA GetLastError CloseHandle FindWindowA"},
    {"close result not read", true, true, "CloseHandle", 1,
     "CreateMutexA GetLastError CloseHandle FindWindowA"},
};

TEST(ProbeGameInstance, DecidesFromMutexAndWindowAndHoldsNothing) {
    for (const ProbeCase& c : kProbeCases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        if (c.mutex) sim::AddForeignMutex(kName);
        if (c.window) sim::AddWindowClass(kName);
        if (c.fault != nullptr) sim::FailFunction(c.fault);

        EXPECT_EQ(ProbeGameInstance(kName), c.expected);
        EXPECT_EQ(sim::CallNames(), c.calls);
        for (const sim::Call& call : sim::Calls()) {
            if (call.function != "GetLastError" && call.function != "CloseHandle") {
                EXPECT_EQ(call.argument, kName);
            }
        }
        EXPECT_EQ(sim::OpenHandleCount(), 0);
        EXPECT_EQ(sim::MutexHandleCount(kName), c.mutex ? 1 : 0) << "the probe left a mutex behind";
    }
}

// The name of a path with 表 carries the trail byte 0x5C, which the system
// reads as part of the character, not as a namespace separator.
TEST(ProbeGameInstance, FindsTheGameUnderAJapaneseName) {
    const char name[] = "d::\x83\x51\x81\x5B\x83\x80:\x95\x5C:harunel.exe";
    sim::Reset();
    sim::AddForeignMutex(name);
    sim::AddWindowClass(name);
    EXPECT_EQ(ProbeGameInstance(name), 1);
    sim::Reset();
    EXPECT_EQ(ProbeGameInstance(name), 0);
    EXPECT_EQ(sim::MutexHandleCount(name), 0);
}

}  // namespace
