// Holds the files named on its command line open for reading, sharing reading
// only, as a client running in another user's session holds its program, until
// it is ended.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (CreateFileA(argv[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr) ==
        INVALID_HANDLE_VALUE) {
      fprintf(stderr, "cannot open %s: %lu\n", argv[i], GetLastError());
      return 1;
    }
  }
  Sleep(INFINITE);
}
