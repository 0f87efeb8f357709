# Cross build for 64-bit Windows with mingw-w64: the same sources as the
# 32-bit Updater.exe, for running the end-to-end suite where the machine
# cannot run 32-bit code.
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
