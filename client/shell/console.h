// Diagnostic lines for a starter that redirected our standard streams. The
// client is a windowed program: with no stream connected, lines are dropped.
#pragma once
#include <windows.h>

// Writes bytes to standard output as they are, without a line end.
void WriteStdout(const char* text, size_t length);
void WriteStdout(const char* text);

// Wide formatted line to standard error, written as UTF-8. In the format,
// %s takes a wide string (the Windows convention for wide output).
void PrintStderr(const wchar_t* format, ...);
