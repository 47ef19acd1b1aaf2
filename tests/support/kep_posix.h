// The few POSIX calls the tests use, on Windows too: setenv and unsetenv over _putenv_s, mkstemp
// (where the C library lacks it) and mkdtemp over _mktemp_s.
#ifndef KEP_TESTS_KEP_POSIX_H
#define KEP_TESTS_KEP_POSIX_H

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cstring>

inline int setenv(const char* name, const char* value, int overwrite) {
    if (overwrite == 0 && std::getenv(name) != nullptr) {
        return 0;
    }
    return _putenv_s(name, value);
}

inline int unsetenv(const char* name) { return _putenv_s(name, ""); }

#if !defined(__MINGW32__)  // mingw-w64 has its own
inline int mkstemp(char* pattern) {
    if (_mktemp_s(pattern, std::strlen(pattern) + 1) != 0) {
        return -1;
    }
    return _open(pattern, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
#endif

inline char* mkdtemp(char* pattern) {
    if (_mktemp_s(pattern, std::strlen(pattern) + 1) != 0 || _mkdir(pattern) != 0) {
        return nullptr;
    }
    return pattern;
}

#else
#include <unistd.h>
#endif

#endif
