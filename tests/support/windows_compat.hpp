// The POSIX calls that the tests make and MinGW lacks, for the Windows build
// of the tests only: tests/CMakeLists.txt puts this header in front of every
// test source there, so the tests stay as they are. Paths and values are UTF-8.
#pragma once

#if defined(_WIN32)

// Sets a variable of this process's environment, for the C runtime (getenv,
// also inside Zenapi.dll) and for the system (programs started later).
int setenv(const char *name, const char *value, int overwrite);
int unsetenv(const char *name);

// Replaces the trailing "XXXXXX" of pattern and creates that folder.
char *mkdtemp(char *pattern);

// mkdir with a POSIX mode, which Windows has no use for.
int mkdir(const char *path, int mode);

// The signal run_process sends as TerminateProcess (process_windows.cpp).
#ifndef SIGKILL
#define SIGKILL 9
#endif

#endif
