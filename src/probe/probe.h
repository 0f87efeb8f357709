// Whether the game is running, judged by its instance name.
#pragma once

// 1: a mutex of that name already existed and a top-level window of that
// class exists (running). 0: no such mutex, or no such window (not running).
// -1: the mutex could not be created (cannot tell). Holds nothing afterwards.
signed char ProbeGameInstance(const char* name);
