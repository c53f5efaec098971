// hold_file <file> <marker>: a second program that holds <file> open for
// reading the way many Windows readers do (sharing it with other readers
// only, so nobody may write or delete it meanwhile). It creates <marker>
// once the file is open and keeps the file until <marker> is removed (at
// most a minute).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: hold_file <file> <marker>\n");
        return 2;
    }
    HANDLE held = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_file: cannot open the file (error %lu)\n", GetLastError());
        return 1;
    }
    HANDLE marker = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_file: cannot create the marker (error %lu)\n", GetLastError());
        return 1;
    }
    CloseHandle(marker);
    for (int waited_ms = 0; waited_ms < 60000 && GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES;
         waited_ms += 10)
        Sleep(10);
    CloseHandle(held);
    return 0;
}
