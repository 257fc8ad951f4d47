// What the recording scenarios read back from the files the program wrote, and the capture
// controls as they show a recording.
#pragma once
#include <gtest/gtest.h>
#include <cstdint>
#include <string>
#include <vector>
#include "tests/e2e/Scenario.h"

namespace e2e {

// Whether the controls show a recording (or none) now or within a little while: the video button's
// caption, the status line, which capture buttons are enabled, and unless `lookAtColour` is false
// the video button's red face while recording. A modal dialog of the program's stays above the main
// window, so with one open the colour is not looked at.
testing::AssertionResult ShowsRecording(const Window& dialog, bool recording, bool lookAtColour = true);

bool EndsWith(const std::wstring& name, const std::wstring& end);
// The bytes at `at` are the MPEG start code 00 00 01 `code`.
bool StartCodeAt(const std::string& f, size_t at, uint8_t code);

// A finished AVI file: the RIFF chunk's size is written and its chunks fill it, the movie list
// followed by the index; AVIFile reads every frame the stream header counts, each a w x h 24-bit
// DIB. Its frames upright (B, G, R, top row first). AVIFile may leave a few zero bytes after the
// RIFF chunk (Wine's does), which readers skip.
testing::AssertionResult IsFinishedAvi(const std::wstring& path, int w, int h, std::vector<Bitmap>* frames);

}  // namespace e2e
