#pragma once

#include <string>

namespace quarn {

// The editor's F11 pictures: the back buffer's view region saved as a numbered image below the
// screenshot folder ("." is the base folder).
void SetScreenshotFolder(const char* folder);
const std::string& GetScreenshotFolder();

// "<folder>/Screenshots/screenshotNNNN.<extension>" with the lowest number from 1 that names no
// file; at least four digits. Below the game's root where that folder lies outside the game;
// "" where that one does too (a link leading out).
std::string NextScreenshotPath(const char* extension);

// Takes and saves one screenshot; every outcome is only logged.
void TakeScreenshot(const char* extension);

} // namespace quarn
