// One-shot jobs that other programs start: brand, off, pac <url>,
// global <server> <bypass>. They create no window and end at once.
#pragma once
#include <windows.h>

enum class ToolMode { None, Brand, Off, Pac, Global };

// The mode word decides only together with the argument count (argument 0 is
// the program path); words compare exactly, case and length included.
ToolMode PickToolMode(int argc, wchar_t** argv);

// Runs the mode's job; its outcome is not looked at. Ends the process with
// status 4 when an option array cannot be allocated.
void RunToolMode(ToolMode mode, wchar_t** argv);
