// The demo's stand-in for the player: starts Updater.exe in the given current
// directory, meets each message box it shows, saves a picture of it (a 24-bit
// BMP of the box as it is on the screen), prints its caption, text and buttons
// in UTF-8, answers Yes to a confirmation and OK to anything else, and prints
// the updater's exit code once it has ended.
//
//   demo_driver [--watch] UPDATER.EXE CURRENT_DIR PICTURE_DIR
//
// With --watch the player is a person at the screen: the driver presses
// nothing, it waits for each box to be answered.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// (after windows.h, which it needs)
#include <shellapi.h>

#include <string>
#include <vector>

#include "boxes.h"

namespace {

constexpr DWORD kBoxTimeoutMs = 60000;       // for the next box when the driver answers
constexpr DWORD kPlayerTimeoutMs = 3600000;  // for a person to answer
constexpr size_t kMostBoxes = 10;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr,
                        nullptr);
    return out;
}

// Writes to the console in UTF-16 where there is one, else the UTF-8 bytes
// (a pipe or a file, as under the demo script).
void Print(const std::wstring& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        const std::string bytes = Utf8(text);
        WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

// The text with each line indented and without carriage returns.
std::wstring Indented(const std::wstring& text, const std::wstring& indent) {
    std::wstring out = indent;
    for (wchar_t c : text) {
        if (c == L'\r') continue;
        out += c;
        if (c == L'\n') out += indent;
    }
    return out + L"\n";
}

// The button's label as the user reads it ("&Yes" is shown as "Yes").
std::wstring Label(HWND box, int button) {
    wchar_t text[64] = {};
    GetDlgItemTextW(box, button, text, 64);
    std::wstring label;
    for (const wchar_t* c = text; *c != 0; ++c)
        if (*c != L'&') label += *c;
    return label;
}

// Saves the screen's pixels under the box as a bottom-up 24-bit BMP.
bool SavePicture(HWND box, const std::wstring& path) {
    RECT rect = {};
    if (!GetWindowRect(box, &rect)) return false;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
    SelectObject(memory, previous);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * static_cast<size_t>(height));
    const bool read = copied && GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info,
                                          DIB_RGB_COLORS) == height;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!read) return false;

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    info.bmiHeader.biSizeImage = static_cast<DWORD>(pixels.size());

    HANDLE out =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) != 0;
    ok = ok && WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) != 0;
    ok = ok && WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr) != 0;
    CloseHandle(out);
    return ok;
}

std::wstring FullPath(const wchar_t* path) {
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(path, MAX_PATH, full, nullptr);
    return full;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const bool watch = argc > 1 && std::wstring(argv[1]) == L"--watch";
    const int first = watch ? 2 : 1;
    if (argv == nullptr || argc != first + 3) {
        Print(L"usage: demo_driver [--watch] UPDATER.EXE CURRENT_DIR PICTURE_DIR\n");
        return 2;
    }
    const std::wstring updater = FullPath(argv[first]);
    const std::wstring currentDir = FullPath(argv[first + 1]);
    const std::wstring pictures = FullPath(argv[first + 2]);
    CreateDirectoryW(pictures.c_str(), nullptr);

    boxes::Process started;
    if (!boxes::Start(started, updater, currentDir)) {
        Print(L"cannot start " + updater + L"\n");
        return 3;
    }
    Print(L"started " + updater + L"\n  a " + std::to_wstring(boxes::ImageBits(updater)) +
          L"-bit program, running as a " + std::to_wstring(boxes::ProcessBits(started.process.hProcess)) +
          L"-bit process\n  current directory " + currentDir + L"\n");

    for (size_t i = 1; i <= kMostBoxes; ++i) {
        HWND box = boxes::NextBox(started, watch ? kPlayerTimeoutMs : kBoxTimeoutMs);
        if (box == nullptr) break;
        RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(300);
        const boxes::Box seen = boxes::Read(box);

        const std::wstring number = std::to_wstring(i);
        const std::wstring picture = L"box-" + number + L".bmp";
        const bool saved = SavePicture(box, pictures + L"\\" + picture);

        std::wstring buttons;
        const struct {
            bool present;
            int id;
        } kButtons[] = {{seen.yes, IDYES}, {seen.no, IDNO}, {seen.ok, IDOK}, {seen.cancel, IDCANCEL}};
        for (const auto& button : kButtons)
            if (button.present) buttons += L" [" + Label(box, button.id) + L"]";
        const int answer = seen.yes ? IDYES : seen.ok ? IDOK : seen.no ? IDNO : IDCANCEL;

        Print(L"\nbox " + number + L": \"" + seen.caption + L"\"" + (seen.icon ? L", with an icon" : L"") +
              L"\n" + Indented(seen.text, L"  | ") + L"  buttons:" + buttons + L"\n");
        Print(saved ? L"  picture: " + picture + L"\n" : L"  picture: (could not take one)\n");
        if (watch) {
            Print(L"  waiting for your answer...\n");
            const DWORD since = GetTickCount();
            while (IsWindow(box) && IsWindowVisible(box) && GetTickCount() - since < kPlayerTimeoutMs &&
                   WaitForSingleObject(started.process.hProcess, 100) != WAIT_OBJECT_0) {
            }
            Print(L"  answered\n");
        } else {
            const std::wstring label = Label(box, answer);  // before the box goes
            boxes::Press(box, answer);
            Print(L"  pressed: [" + label + L"]\n");
        }
    }

    const bool ended = WaitForSingleObject(started.process.hProcess, kBoxTimeoutMs) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(started.process.hProcess, 99);
        WaitForSingleObject(started.process.hProcess, 5000);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(started.process.hProcess, &exitCode);
    CloseHandle(started.process.hThread);
    CloseHandle(started.process.hProcess);
    Print(ended ? L"\nUpdater.exe ended, exit code " + std::to_wstring(exitCode) + L"\n"
                : L"\nUpdater.exe did not end: stopped it\n");
    LocalFree(argv);
    return ended ? 0 : 1;
}
