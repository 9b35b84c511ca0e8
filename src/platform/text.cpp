// Bounded text formatting, shared by both builds.
#include "platform/text.h"

#include <cstring>

namespace marlit {

size_t CopyText(char* buffer, size_t capacity, std::string_view text) {
  if (capacity == 0) return 0;
  const size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return length;
}

bool JoinText(char* buffer, size_t capacity, std::string_view a, std::string_view b,
              std::string_view c) {
  if (capacity == 0) return false;
  const size_t length = a.size() + b.size() + c.size();
  if (length >= capacity) {
    buffer[0] = '\0';
    return false;
  }
  std::memcpy(buffer, a.data(), a.size());
  std::memcpy(buffer + a.size(), b.data(), b.size());
  std::memcpy(buffer + a.size() + b.size(), c.data(), c.size());
  buffer[length] = '\0';
  return true;
}

size_t BoundedLength(const char* buffer, size_t capacity) {
  const void* zero = std::memchr(buffer, '\0', capacity);
  return zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - buffer) : capacity;
}

}  // namespace marlit
