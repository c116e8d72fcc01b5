// Links the client's crash handler, as the client sets it up, and crashes:
// "terminate" calls std::terminate, "overflow" exhausts its stack.
#include <windows.h>

#include <cstring>
#include <exception>

#include "shell/crash_dump.h"

// Deep enough to exhaust any stack; the addition after the call keeps it a call.
int Recurse(int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  return depth == 0 ? frame[0] : Recurse(depth - 1) + frame[0];
}

int main(int argc, char** argv) {
  InstallCrashHandler();
  StartCrashDumpThread();
  if (argc == 2 && strcmp(argv[1], "overflow") == 0) return Recurse(1 << 30);
  std::terminate();
}
