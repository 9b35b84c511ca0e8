// Bounded text formatting, shared by both builds.
#include "platform/text.h"

#include <cstring>

namespace marlit {
namespace {

// memcpy with a null source is undefined even for no bytes, and an empty
// view may carry a null pointer.
void CopyBytes(char* to, std::string_view from) {
  if (!from.empty()) std::memcpy(to, from.data(), from.size());
}

}  // namespace

size_t CopyText(char* buffer, size_t capacity, std::string_view text) {
  if (capacity == 0) return 0;
  const size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
  CopyBytes(buffer, text.substr(0, length));
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
  CopyBytes(buffer, a);
  CopyBytes(buffer + a.size(), b);
  CopyBytes(buffer + a.size() + b.size(), c);
  buffer[length] = '\0';
  return true;
}

size_t BoundedLength(const char* buffer, size_t capacity) {
  const void* zero = std::memchr(buffer, '\0', capacity);
  return zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - buffer) : capacity;
}

}  // namespace marlit
