// Windows registry services: advapi32 itself, one open-call-close per
// operation. This file is used on Windows only.
#include <windows.h>

#include "platform/registry.h"

namespace marlit {
namespace {

static_assert(REG_SZ == kRegSz && REG_BINARY == kRegBinary && REG_DWORD == kRegDword);

// The one place where advapi32's error codes become results.
RegistryResult Translate(LONG code) {
  switch (code) {
    case ERROR_SUCCESS:
      return RegistryResult::Ok;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return RegistryResult::Missing;
    case ERROR_MORE_DATA:
      return RegistryResult::TooLong;
    default:
      return RegistryResult::Failed;
  }
}

HKEY RootHandle(RegistryRoot root) { return reinterpret_cast<HKEY>(root); }

LONG DeleteTree(HKEY parent, const char* key) {
  HKEY handle = nullptr;
  LONG result = ::RegOpenKeyExA(parent, key, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &handle);
  if (result != ERROR_SUCCESS) return result;
  char name[256];  // a key name has at most 255 characters
  while (result == ERROR_SUCCESS) {
    DWORD length = sizeof name;
    // Always the first subkey: the one before was just removed.
    result = ::RegEnumKeyExA(handle, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_SUCCESS) result = DeleteTree(handle, name);
  }
  ::RegCloseKey(handle);
  if (result != ERROR_NO_MORE_ITEMS) return result;
  return ::RegDeleteKeyA(parent, key);
}

}  // namespace

RegistryResult ReadRegistryValue(RegistryRoot root, const char* key, const char* name, void* buffer,
                                 uint32_t* size, uint32_t* type) {
  if (key == nullptr || size == nullptr) return RegistryResult::Failed;
  HKEY handle = nullptr;
  const LONG opened = ::RegOpenKeyExA(RootHandle(root), key, 0, KEY_QUERY_VALUE, &handle);
  if (opened != ERROR_SUCCESS) return Translate(opened);
  DWORD storedType = 0;
  DWORD storedSize = *size;
  const LONG queried = ::RegQueryValueExA(handle, name, nullptr, &storedType,
                                          static_cast<BYTE*>(buffer), &storedSize);
  ::RegCloseKey(handle);
  if (queried == ERROR_SUCCESS || queried == ERROR_MORE_DATA) *size = storedSize;
  if (queried == ERROR_SUCCESS && type != nullptr) *type = storedType;
  return Translate(queried);
}

RegistryResult WriteRegistryValue(RegistryRoot root, const char* key, const char* name,
                                  uint32_t type, const void* bytes, uint32_t size) {
  if (key == nullptr || (bytes == nullptr && size != 0)) return RegistryResult::Failed;
  HKEY handle = nullptr;
  const LONG created =
      ::RegCreateKeyExA(RootHandle(root), key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
  if (created != ERROR_SUCCESS) return Translate(created);
  const LONG set = ::RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(bytes), size);
  ::RegCloseKey(handle);
  return Translate(set);
}

// Subkeys first, then the key: RegDeleteKeyA removes only an empty key.
// (RegDeleteTreeA would do it in one call, but it is missing before Windows
// Vista, and the module must load where the host runs.)
RegistryResult DeleteRegistryKey(RegistryRoot root, const char* key) {
  if (key == nullptr || key[0] == '\0') return RegistryResult::Failed;
  return Translate(DeleteTree(RootHandle(root), key));
}

// The registry keeps each write by itself.
void BeginRegistryBatch() {}

RegistryResult EndRegistryBatch() { return RegistryResult::Ok; }

std::string RegistryStoreLocation() { return "the registry"; }

}  // namespace marlit
