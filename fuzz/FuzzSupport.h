#pragma once
// What the fuzz targets share: a program directory of their own, quiet message boxes, and a
// headless display with the shipped sprites for the readers that draw.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zx::fuzz {

// A fresh temporary program directory with KVD, made once per process; message boxes answer No
// without a word. Every target calls it from LLVMFuzzerInitialize.
void InitProgramDir();
// Writes bytes to a file under the program directory (a relative path in the program's form).
void WriteFile(std::string_view relPath, const uint8_t* data, size_t size);
// SDL's dummy video, a window and a display of 800 by 600 ready to paint into.
void InitDisplay();
// The display above with the shipped sprite script loaded and a sprite list.
void InitSprites();
// Empties the log, which the readers write to, so a long run does not fill the disk.
void ResetLog();

// Ends the process as a crash does, so that libFuzzer keeps the input: for a property that failed.
[[noreturn]] void Fail(const char* what);

}  // namespace zx::fuzz
