// Text formatting into fixed buffers: the only two forms the plug-in needs,
// one text ("%s") and three joined ("%s%s%s"). Every copy is bounded by the
// buffer's capacity, given once by the caller; the same code serves both
// builds.
#pragma once

#include <cstddef>
#include <string_view>

namespace marlit {

// Copies text into buffer (capacity bytes), cut to capacity - 1 characters,
// always zero-terminated. Returns the number of characters copied. Writes
// nothing when capacity is 0.
size_t CopyText(char* buffer, size_t capacity, std::string_view text);

// Joins a, b and c into buffer. Returns false, leaving the buffer empty, when
// the joined text and its terminator do not fit: a joined key or path is
// refused rather than cut.
bool JoinText(char* buffer, size_t capacity, std::string_view a, std::string_view b,
              std::string_view c);

// The length of a text in a buffer of capacity bytes: up to the first zero,
// or capacity when there is none.
size_t BoundedLength(const char* buffer, size_t capacity);

}  // namespace marlit
