// The update procedure: finds the installation, checks it, the game and the
// payload, asks twice, copies the three files and tells the outcome.
#pragma once

// 0 after the success message, -1 after any other closing message.
int RunUpdate();

// Storage the procedure keeps for the life of the process.
constexpr int InstanceNameCapacity = 576;
constexpr int MessageCapacity = 1600;
extern char InstanceNameBuffer[InstanceNameCapacity];
extern char MessageBuffer[MessageCapacity];
