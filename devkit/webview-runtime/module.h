// The runtime DLL's own module handle, for its window classes.
#pragma once
#include <windows.h>

HINSTANCE RuntimeModule();
