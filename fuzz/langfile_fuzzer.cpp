// The hosts' language-file reader on any bytes, from memory and from a file,
// and the code page 866 conversion of whatever it reads. A file it accepts
// is written out again in its own form and must read back the same; every
// converted text is well-formed UTF-8 with one character per input byte.
#include <string>
#include <string_view>

#include "common/lang_file.h"
#include "fuzz_support.h"

namespace {

using marlit::fuzz::Require;

std::string g_file;

// Counts the characters of well-formed UTF-8 of at most three bytes a
// character; -1 for anything else.
long CountUtf8(std::string_view text) {
  long count = 0;
  for (size_t i = 0; i < text.size(); ++count) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80             ? 1
                          : (lead & 0xE0) == 0xC0 ? 2
                          : (lead & 0xF0) == 0xE0 ? 3
                                                  : 0;
    if (length == 0 || i + length > text.size()) return -1;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return -1;
    }
    i += length;
  }
  return count;
}

void CheckConversion(std::string_view text) {
  Require(CountUtf8(marlit::Cp866ToUtf8(text)) == static_cast<long>(text.size()),
          "one UTF-8 character for every byte");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_file = marlit::fuzz::ScratchFolder() + "/messages.lng";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const marlit::LangFile parsed = marlit::ParseLangText(text);
  CheckConversion(text);
  CheckConversion(parsed.Language);
  for (const std::string& message : parsed.Messages) {
    Require(message.find('\0') == std::string::npos, "a message holds no zero byte");
    Require(message.size() + 2 <= size, "a message comes from the input");
    CheckConversion(message);
  }

  Require(marlit::fuzz::WriteWholeFile(g_file, text), "the language file can be written");
  const marlit::LangFile loaded = marlit::LoadLangFile(g_file);
  Require(loaded.Language == parsed.Language && loaded.Messages == parsed.Messages &&
              loaded.Error.empty() == parsed.Error.empty(),
          "a file reads as its bytes do");
  if (!parsed.Error.empty()) return 0;

  // Written out again with "\r\n" line ends, which keep a '\r' that ends the
  // language name, the file reads back the same.
  std::string again = ".Language=" + parsed.Language + "\r\n";
  for (const std::string& message : parsed.Messages) again += "\"" + message + "\"\r\n";
  const marlit::LangFile reread = marlit::ParseLangText(again);
  Require(reread.Error.empty() && reread.Language == parsed.Language &&
              reread.Messages == parsed.Messages,
          "an accepted file written out again reads the same");
  return 0;
}
