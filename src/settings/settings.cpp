// The settings store: typed values under the plug-in key, each read with a
// default, and the loading and saving of the dialog's eight values. The
// registry itself (or its stand-in) is behind platform/registry.h.
#include "settings/settings.h"

#include <cstring>
#include <string_view>

#include "host/module.h"
#include "platform/text.h"

namespace marlit {
namespace {

constexpr uint32_t kNumberSize = 4;

// Forms "<plug-in key path>\<subkey>" (no separator for an empty subkey).
// False when there is no key path or the joined key would not fit: the
// operation then reads its default or writes nothing.
bool FormFullKey(const char* subkey, char (&key)[kFullKeySize]) {
  const std::string_view path(PluginKeyPath, BoundedLength(PluginKeyPath, kKeyPathSize));
  if (path.empty() || path.size() == kKeyPathSize) return false;
  // Never a view without a pointer: JoinText copies from each one.
  const char* text = subkey != nullptr ? subkey : "";
  const std::string_view sub(text, BoundedLength(text, kFullKeySize));
  return JoinText(key, sizeof key, path, sub.empty() ? "" : "\\", sub);
}

const char* NameOf(const char* name) { return name != nullptr ? name : ""; }

// Reads a value of at most capacity bytes into buffer; *size gets the stored
// size. True only when the whole value was read.
bool ReadValue(RegistryRoot root, const char* subkey, const char* name, void* buffer,
               uint32_t capacity, uint32_t* size) {
  char key[kFullKeySize];
  if (!FormFullKey(subkey, key)) return false;
  *size = capacity;
  return ReadRegistryValue(root, key, NameOf(name), buffer, size, nullptr) == RegistryResult::Ok &&
         *size <= capacity;
}

void WriteValue(RegistryRoot root, const char* subkey, const char* name, uint32_t type,
                const void* bytes, uint32_t size) {
  char key[kFullKeySize];
  if (!FormFullKey(subkey, key)) return;
  WriteRegistryValue(root, key, NameOf(name), type, bytes, size);
}

// Writes a text of a fixed buffer up to its terminator, cut to the buffer's
// capacity - 1 characters so that it loads back into the same buffer.
template <size_t Capacity>
void SaveText(const char* name, const char (&text)[Capacity]) {
  char bounded[Capacity];
  CopyText(bounded, sizeof bounded, std::string_view(text, BoundedLength(text, Capacity)));
  SetString(kHkeyCurrentUser, "", name, bounded);
}

template <size_t Capacity>
void LoadText(const char* name, char (&text)[Capacity], const char* defaultText) {
  GetString(kHkeyCurrentUser, "", name, text, defaultText, Capacity);
}

}  // namespace

int GetString(RegistryRoot root, const char* subkey, const char* name, char* buffer,
              const char* defaultText, uint32_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  uint32_t size = 0;
  if (ReadValue(root, subkey, name, buffer, capacity, &size)) {
    // A text stored without its terminator is taken when there is room to add
    // one; one that fills the whole buffer is too long.
    if (std::memchr(buffer, '\0', size) != nullptr) return 1;
    if (size < capacity) {
      buffer[size] = '\0';
      return 1;
    }
  }
  // A failed read may have left anything in the buffer.
  std::memset(buffer, 0, capacity);
  const char* text = defaultText != nullptr ? defaultText : "";
  CopyText(buffer, capacity, std::string_view(text, BoundedLength(text, capacity)));
  return 0;
}

uint32_t GetNumber(RegistryRoot root, const char* subkey, const char* name, uint32_t defaultValue) {
  unsigned char bytes[kNumberSize] = {};
  uint32_t size = 0;
  // A shorter value would leave part of the number undefined; a longer one
  // does not fit.
  if (!ReadValue(root, subkey, name, bytes, kNumberSize, &size) || size != kNumberSize) {
    return defaultValue;
  }
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

int GetBinary(RegistryRoot root, const char* subkey, const char* name, void* buffer,
              const void* defaultBytes, uint32_t capacity) {
  if (buffer == nullptr) return 0;
  uint32_t size = 0;
  if (ReadValue(root, subkey, name, buffer, capacity, &size)) {
    std::memset(static_cast<unsigned char*>(buffer) + size, 0, capacity - size);
    return 1;
  }
  if (defaultBytes != nullptr) {
    std::memcpy(buffer, defaultBytes, capacity);
  } else {
    std::memset(buffer, 0, capacity);
  }
  return 0;
}

void SetString(RegistryRoot root, const char* subkey, const char* name, const char* text) {
  if (text == nullptr) return;
  const size_t length = std::strlen(text);
  if (length >= UINT32_MAX) return;
  WriteValue(root, subkey, name, kRegSz, text, static_cast<uint32_t>(length + 1));
}

void SetNumber(RegistryRoot root, const char* subkey, const char* name, uint32_t value) {
  const unsigned char bytes[kNumberSize] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  WriteValue(root, subkey, name, kRegDword, bytes, kNumberSize);
}

void SetBinary(RegistryRoot root, const char* subkey, const char* name, const void* bytes,
               uint32_t length) {
  if (bytes == nullptr && length != 0) return;
  WriteValue(root, subkey, name, kRegBinary, bytes, length);
}

void SplitAttributeBits(uint32_t bits, bool (&set)[kAttributeCount]) {
  for (int bit = 0; bit < kAttributeCount; ++bit) set[bit] = (bits >> bit & 1) != 0;
}

uint32_t JoinAttributeBits(const bool (&set)[kAttributeCount]) {
  uint32_t bits = 0;
  for (int bit = 0; bit < kAttributeCount; ++bit) {
    if (set[bit]) bits |= 1u << bit;
  }
  return bits;
}

void LoadSettings(SettingsValues& values) {
  BeginRegistryBatch();
  values = SettingsValues{};
  values.ClearFirst = GetNumber(kHkeyCurrentUser, "", "ClearFirst", 0);
  values.Mode = GetNumber(kHkeyCurrentUser, "", "Mode", 0);
  values.InAttr = GetNumber(kHkeyCurrentUser, "", "InAttr", 0) & kAttributeBits;
  values.ExAttr = GetNumber(kHkeyCurrentUser, "", "ExAttr", 0) & kAttributeBits;
  LoadText("Mask", values.Mask, "*.*");
  LoadText("Date", values.Date, "");
  LoadText("Time", values.Time, "");
  LoadText("Size", values.Size, "");
  EndRegistryBatch();
}

void SaveSettings(const SettingsValues& values) {
  BeginRegistryBatch();
  SetNumber(kHkeyCurrentUser, "", "ClearFirst", values.ClearFirst);
  SetNumber(kHkeyCurrentUser, "", "Mode", values.Mode);
  SetNumber(kHkeyCurrentUser, "", "InAttr", values.InAttr & kAttributeBits);
  SetNumber(kHkeyCurrentUser, "", "ExAttr", values.ExAttr & kAttributeBits);
  SaveText("Mask", values.Mask);
  SaveText("Date", values.Date);
  SaveText("Time", values.Time);
  SaveText("Size", values.Size);
  EndRegistryBatch();
}

}  // namespace marlit
