// A program that only proves it was started: it leaves "<its own path>.started"
// beside itself and ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show)
{
    wchar_t path[MAX_PATH + 16] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return 1;
    lstrcatW(path, L".started");
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    // The show mode it was given, for the starter's check.
    char text[16];
    const int len = wsprintfA(text, "%d", show);
    DWORD written = 0;
    WriteFile(file, text, DWORD(len), &written, nullptr);
    CloseHandle(file);
    return 0;
}
