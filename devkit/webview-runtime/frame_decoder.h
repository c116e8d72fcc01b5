// Screencast frames (base64 PNG from the browser) to 32-bit BGRA pixels, top
// row first, with WIC. Call from a thread in a COM apartment.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

bool DecodeFrame(const std::string& base64, std::vector<uint32_t>* pixels, int* width, int* height);
