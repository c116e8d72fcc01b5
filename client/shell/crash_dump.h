// The client's own crash dumps. On an unhandled exception or std::terminate
// a minidump of the process goes to %LOCALAPPDATA%\NorvVPN\CrashDumps as
// <program>.<process id>.dmp (the newest ten kept), and then Windows' own
// handling goes on, so the crash is still reported. Nothing machine-wide is
// switched on for it.
#pragma once

// The unhandled-exception filter and the terminate handler; no thread, so it
// costs a tool mode nothing. A crash before StartCrashDumpThread makes the
// dump thread then.
void InstallCrashHandler();

// The thread that writes the dump, made now and asleep until a crash: a crash
// on an exhausted stack still gets its dump.
void StartCrashDumpThread();
