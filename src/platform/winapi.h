// The Windows services the updater calls, under their own names.
//
// On Windows this is the system's own header and import libraries. Everywhere
// else it declares the same narrow set of types, constants and functions, and
// a simulated Windows (tests/sim) supplies the functions at link time, so the
// updater's code is the same on both sides of the seam.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else

#include <stdint.h>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef DWORD REGSAM;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef intptr_t(WINAPI* FARPROC)();

#define FALSE 0
#define TRUE 1

#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_MORE_DATA 234
#define ERROR_PROC_NOT_FOUND 127
#define ERROR_MOD_NOT_FOUND 126

#define MAX_PATH 260
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFFu)
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u

#define MB_OK 0x0u
#define MB_YESNO 0x4u
#define MB_ICONINFORMATION 0x40u
#define IDOK 1
#define IDYES 6
#define IDNO 7

#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800u

extern "C" {
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
DWORD WINAPI GetLastError(void);
BOOL WINAPI CloseHandle(HANDLE handle);
HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName);
LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size);
DWORD WINAPI GetFileAttributesA(LPCSTR path);
BOOL WINAPI CopyFileA(LPCSTR source, LPCSTR target, BOOL failIfExists);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
// Never called by name: the updater looks it up with GetProcAddress and
// takes only the type of its declaration.
BOOL WINAPI SetDefaultDllDirectories(DWORD flags);

// Defined by the program, called once by the platform at process start.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
}

#endif
