// What the fuzz targets share: a failed expectation that names itself before
// stopping the run, and a scratch folder of the process for files a target
// writes (the settings store, a language file). The folder is on a memory
// file system where there is one, so that writing and flushing a file costs
// little per input; it is removed when the process exits normally.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace marlit::fuzz {

// Stops the run with a message naming the broken expectation: libFuzzer then
// keeps the input that broke it.
void Require(bool holds, const char* what);

// The process's scratch folder, made on first use.
const std::string& ScratchFolder();

// Writes bytes as the whole file at path; false when it cannot.
bool WriteWholeFile(const std::string& path, std::string_view bytes);

// Reads the whole file at path into bytes; false when there is no such file.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// ASCII letters compared without case, every other byte exactly: how the
// registry compares names.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// Reads input from its front: fixed-size numbers (zero when the input has run
// out) and runs of bytes.
struct InputReader {
  const uint8_t* Data;
  size_t Size;

  uint32_t Number(size_t bytes);
  std::string_view Bytes(size_t count);
  std::string_view Rest();
};

}  // namespace marlit::fuzz
