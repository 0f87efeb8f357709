// The product's constants and the message table. The texts are Shift_JIS
// (code page 932) bytes: messages.cpp is compiled with that execution
// character set.
#pragma once

extern const char GameTitle[];
extern const char UpdateVersion[];
extern const char InstallKeyPath[];
extern const char InstallDirValue[];
extern const char GameExeName[];
extern const char PayloadRoot[];
extern const char UpdaterMutexName[];

// Payload entries, relative to the current directory; PayloadRoot is tested
// first, then these three, which are also the sources of the copies.
extern const char PayloadInstIni[];
extern const char PayloadZmbin[];
extern const char PayloadUpdate1[];

// Installation entries, appended to the installation prefix.
extern const char InstallInstIni[];
extern const char InstallPac[];
extern const char InstallZmbin[];
extern const char InstallUpdate1[];

// Message texts; the %s of each is filled as noted.
extern const char MsgNotInstalled[];       // GameTitle
extern const char MsgGameRunning[];        // GameTitle
extern const char MsgPayloadIncomplete[];  // shown as stored
extern const char MsgConfirmNotice[];      // UpdateVersion
extern const char MsgConfirmStart[];       // UpdateVersion
extern const char MsgCancelled[];          // shown as stored
extern const char MsgUpdated[];            // UpdateVersion, twice
extern const char MsgCopyFailed[];         // shown as stored

// Captions.
extern const char CaptionNotInstalledKey[];    // the key cannot be opened
extern const char CaptionNotInstalledDir[];    // "Dir" cannot be read
extern const char CaptionNotInstalledFiles[];  // an installation entry is missing
extern const char CaptionError[];
extern const char CaptionConfirmFormat[];  // GameTitle
extern const char CaptionCancelled[];
extern const char CaptionUpdated[];
extern const char CaptionCopyFailed[];
