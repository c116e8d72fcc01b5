// The client's crash handler, set up as the client sets it up, in a program
// that exhausts its stack ("overflow") or calls std::terminate.
#include <cstring>
#include <exception>

#include "shell/crash_dump.h"

int Recurse(int depth) {  // the addition after the call keeps it a call
  volatile char frame[4096] = {static_cast<char>(depth)};
  return depth == 0 ? 0 : Recurse(depth - 1) + frame[0];
}

int main(int argc, char** argv) {
  InstallCrashHandler();
  StartCrashDumpThread();
  if (argc == 2 && strcmp(argv[1], "overflow") == 0) return Recurse(1 << 30);
  std::terminate();
}
