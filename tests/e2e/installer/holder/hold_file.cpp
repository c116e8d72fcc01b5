// Holds the files named on its command line open until it is ended: for
// reading, sharing reading only, as a client running in another user's
// session holds its program; with --write first, for writing, sharing
// everything, which a probe that shares writing lets through.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  const bool write = argc > 1 && strcmp(argv[1], "--write") == 0;
  for (int i = write ? 2 : 1; i < argc; ++i) {
    if (CreateFileA(argv[i], write ? GENERIC_WRITE : GENERIC_READ,
                    write ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE) {
      fprintf(stderr, "cannot open %s: %lu\n", argv[i], GetLastError());
      return 1;
    }
  }
  Sleep(INFINITE);
}
