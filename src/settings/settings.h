// The settings store: the selection dialog's last confirmed values, kept
// under the plug-in's registry key, each read with a default that stands in
// for a missing or unreadable value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/criteria.h"
#include "platform/registry.h"

namespace marlit {

constexpr size_t kMaskValueSize = 260;  // 259 characters
constexpr size_t kDateValueSize = 128;  // 127 characters
constexpr size_t kTimeValueSize = 64;   // 63 characters
constexpr size_t kSizeValueSize = 64;   // 63 characters
constexpr size_t kFullKeySize = 512;    // "<plug-in key path>\<subkey>"

// The bits of "InAttr" and "ExAttr" that hold an attribute set; the others
// are written as 0 and ignored on reading.
constexpr uint32_t kAttributeBits = (1u << kAttributeCount) - 1;

// The eight stored values, in the order they are read and written.
struct SettingsValues {
  uint32_t ClearFirst;  // "ClearFirst": the check box state, unchanged
  uint32_t Mode;        // "Mode": a SelectionAction
  uint32_t InAttr;      // "InAttr": include attributes, bits 0..5
  uint32_t ExAttr;      // "ExAttr": exclude attributes, bits 0..5
  char Mask[kMaskValueSize];
  char Date[kDateValueSize];
  char Time[kTimeValueSize];
  char Size[kSizeValueSize];
};

// Reads the eight values from the plug-in key, each with its default
// (0, 0, 0, 0, "*.*", "", "", ""). Every text buffer is zero-filled first;
// "InAttr" and "ExAttr" keep bits 0..5 only. The eight reads are one registry
// batch.
void LoadSettings(SettingsValues& values);

// Writes the eight values to the plug-in key, each with its own
// open-write-close, in one registry batch: they are put in place together.
// Texts are written up to their terminator, at most their buffer's
// capacity - 1 characters; "InAttr" and "ExAttr" with bits 6..31 as 0.
void SaveSettings(const SettingsValues& values);

// An attribute set as the engine holds it (six truth values, bit 0 first) and
// as it is stored (bits 0..5 of a number).
void SplitAttributeBits(uint32_t bits, bool (&set)[kAttributeCount]);
uint32_t JoinAttributeBits(const bool (&set)[kAttributeCount]);

// Typed values under the full key "<plug-in key path>[\<subkey>]". Reads yield
// the default (and GetString returns 0) when the key cannot be opened or the
// value is missing, too long for the buffer, or of the wrong size. A text read
// back is always zero-terminated inside its buffer: one that fills the buffer
// with no terminator counts as too long. A number must be stored in exactly
// 4 bytes. GetBinary zero-fills the buffer past the stored bytes; on a failed
// read it copies capacity bytes of the default, or zero-fills the buffer when
// there is no default; it returns 1 after a successful read, else 0. Writes
// do nothing when there is no plug-in key path.
int GetString(RegistryRoot root, const char* subkey, const char* name, char* buffer,
              const char* defaultText, uint32_t capacity);
uint32_t GetNumber(RegistryRoot root, const char* subkey, const char* name, uint32_t defaultValue);
int GetBinary(RegistryRoot root, const char* subkey, const char* name, void* buffer,
              const void* defaultBytes, uint32_t capacity);
void SetString(RegistryRoot root, const char* subkey, const char* name, const char* text);
void SetNumber(RegistryRoot root, const char* subkey, const char* name, uint32_t value);
void SetBinary(RegistryRoot root, const char* subkey, const char* name, const void* bytes,
               uint32_t length);

}  // namespace marlit
