#include "probe/probe.h"

#include "platform/winapi.h"

namespace {
// Used only between the creation of the probe's mutex and its close.
HANDLE ProbeHandle;
}  // namespace

signed char ProbeGameInstance(const char* name) {
    ProbeHandle = CreateMutexA(nullptr, FALSE, name);
    if (ProbeHandle == nullptr) return -1;

    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    CloseHandle(ProbeHandle);
    ProbeHandle = nullptr;
    if (!existed) return 0;

    return FindWindowA(name, nullptr) != nullptr ? 1 : 0;
}
