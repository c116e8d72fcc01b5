// The record behind a page window, shared by its painting and its input.
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct PageWindow {
  HWND window = nullptr;
  std::string session;
  bool popup = false;
  // UI thread.
  bool visible = false;
  bool screencasting = false;
  bool blank = false;
  bool zoomControl = true;
  double zoom = 1.0;
  std::function<void()> closed;
  DWORD lastPressTime = 0;
  POINT lastPressAt = {};
  int lastPressButton = 0;
  int clickCount = 0;
  // Shared with the reader thread, under the frame lock.
  std::vector<uint32_t> pixels;
  int frameWidth = 0;
  int frameHeight = 0;
  bool counting = false;
  unsigned counted = 0;     // frames received since counting began
  unsigned painted = 0;     // the last counted frame painted
};
