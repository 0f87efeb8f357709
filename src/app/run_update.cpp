#include "app/run_update.h"

#include <string.h>

#include "app/messages.h"
#include "app/text.h"
#include "platform/winapi.h"
#include "probe/probe.h"
#include "probe/sjis.h"

char InstanceNameBuffer[InstanceNameCapacity];
char MessageBuffer[MessageCapacity];

namespace {

// Opened by the first step and kept open until the process ends.
HKEY InstallKey;

constexpr size_t PathCapacity = MAX_PATH + 1;
constexpr size_t CaptionCapacity = 1024;

// The longest installation entry ("pac\update1.zmk") must fit after the
// prefix in a path buffer, so longer prefixes are refused.
constexpr size_t LongestInstallEntry = sizeof "pac\\update1.zmk" - 1;
constexpr size_t MaxPrefixLength = PathCapacity - 1 - LongestInstallEntry;

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Composes prefix followed by entry in path: the whole prefix buffer, then the
// entry at its terminator. False if the result would not fit.
bool ComposeInstallPath(char (&path)[PathCapacity], const char (&prefix)[PathCapacity], const char* entry) {
    memcpy(path, prefix, PathCapacity);
    return AppendText(path, PathCapacity, entry);
}

// Tests an installation entry; one whose path cannot be composed counts as
// missing and is not queried.
bool InstallEntryExists(char (&path)[PathCapacity], const char (&prefix)[PathCapacity], const char* entry) {
    return ComposeInstallPath(path, prefix, entry) && Exists(path);
}

bool CopyToInstallation(char (&path)[PathCapacity], const char (&prefix)[PathCapacity], const char* source,
                        const char* entry) {
    return ComposeInstallPath(path, prefix, entry) && CopyFileA(source, path, FALSE) != 0;
}

// Shows a closing message with one OK button and ends the procedure.
int Stop(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
    return -1;
}

int StopFormatted(const char* format, const char* arg, const char* caption) {
    FormatText(MessageBuffer, sizeof MessageBuffer, format, arg);
    return Stop(MessageBuffer, caption);
}

bool Declined(const char* format, const char* caption) {
    FormatText(MessageBuffer, sizeof MessageBuffer, format, UpdateVersion);
    return MessageBoxA(nullptr, MessageBuffer, caption, MB_YESNO | MB_ICONINFORMATION) == IDNO;
}

}  // namespace

int RunUpdate() {
    char prefix[PathCapacity];
    char path[PathCapacity];
    char caption[CaptionCapacity];

    // 1. The installation's key.
    if (RegOpenKeyExA(HKEY_CURRENT_USER, InstallKeyPath, 0, KEY_ALL_ACCESS, &InstallKey) != ERROR_SUCCESS) {
        return StopFormatted(MsgNotInstalled, GameTitle, CaptionNotInstalledKey);
    }

    // 2. The installation prefix. A value that comes back without a
    // terminator inside the buffer (stored unterminated, or of another type)
    // is no usable text and counts as unreadable.
    memset(prefix, 0, sizeof prefix);
    DWORD type = REG_NONE;
    DWORD size = sizeof prefix;
    if (RegQueryValueExA(InstallKey, InstallDirValue, nullptr, &type, reinterpret_cast<LPBYTE>(prefix),
                         &size) != ERROR_SUCCESS ||
        memchr(prefix, '\0', sizeof prefix) == nullptr) {
        return StopFormatted(MsgNotInstalled, GameTitle, CaptionNotInstalledDir);
    }

    // 3. The installation: both entries are queried before deciding. A
    // prefix too long for every installation path to fit is refused here, so
    // that no update can start that could only be partly made.
    const bool hasInstIni = InstallEntryExists(path, prefix, InstallInstIni);
    const bool hasPac = InstallEntryExists(path, prefix, InstallPac);
    if (!hasInstIni || !hasPac || strlen(prefix) > MaxPrefixLength) {
        return StopFormatted(MsgNotInstalled, GameTitle, CaptionNotInstalledFiles);
    }

    // 4. The game: its executable path becomes its instance name.
    memcpy(InstanceNameBuffer, prefix, strlen(prefix) + 1);
    AppendText(InstanceNameBuffer, sizeof InstanceNameBuffer, GameExeName);
    MakeInstanceName(InstanceNameBuffer);
    if (ProbeGameInstance(InstanceNameBuffer) != 0) {
        return StopFormatted(MsgGameRunning, GameTitle, CaptionError);
    }

    // 5. The payload: all four entries are queried before deciding.
    const bool hasPayloadRoot = Exists(PayloadRoot);
    const bool hasPayloadInstIni = Exists(PayloadInstIni);
    const bool hasPayloadZmbin = Exists(PayloadZmbin);
    const bool hasPayloadUpdate1 = Exists(PayloadUpdate1);
    if (!hasPayloadRoot || !hasPayloadInstIni || !hasPayloadZmbin || !hasPayloadUpdate1) {
        return Stop(MsgPayloadIncomplete, CaptionError);
    }

    // 6, 7. Two confirmations under the same caption; only No declines.
    FormatText(caption, sizeof caption, CaptionConfirmFormat, GameTitle);
    if (Declined(MsgConfirmNotice, caption) || Declined(MsgConfirmStart, caption)) {
        return Stop(MsgCancelled, CaptionCancelled);
    }

    // 8. The copies: every one is attempted, whatever the others gave, and
    // none is undone.
    bool copyFailed = false;
    copyFailed |= !CopyToInstallation(path, prefix, PayloadInstIni, InstallInstIni);
    copyFailed |= !CopyToInstallation(path, prefix, PayloadZmbin, InstallZmbin);
    copyFailed |= !CopyToInstallation(path, prefix, PayloadUpdate1, InstallUpdate1);

    // 9. The outcome.
    if (copyFailed) return Stop(MsgCopyFailed, CaptionCopyFailed);
    FormatText(MessageBuffer, sizeof MessageBuffer, MsgUpdated, UpdateVersion);
    MessageBoxA(nullptr, MessageBuffer, CaptionUpdated, MB_OK);
    return 0;
}
