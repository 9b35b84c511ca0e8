// The stand-in hosts' language-file reader and code page 866 conversion.
#include "common/lang_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace marlit {
namespace {

constexpr std::string_view kLanguagePrefix = ".Language=";

// The characters of code page 866 from 0x80 to 0xFF: Cyrillic capitals,
// small letters up to p, box drawing, small letters from r, then the
// Ukrainian and Belarusian letters and a few signs.
constexpr char16_t kCp866High[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // 80
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // 88
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // 90
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // 98
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // A0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // E0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // E8
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,  // F8
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view line) {
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  return line;
}

// Takes the next line off text, without its "\n" or "\r\n".
std::string_view NextLine(std::string_view& text) {
  const size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string LineError(size_t number, std::string_view what) {
  return "line " + std::to_string(number) + ": " + std::string(what);
}

void AppendUtf8(std::string& out, char16_t c) {
  if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (c & 0x3F));
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

LangFile ParseLangText(std::string_view text) {
  LangFile lang;
  if (text.empty()) {
    lang.Error = "the file is empty";
    return lang;
  }
  const std::string_view first = NextLine(text);
  if (!first.starts_with(kLanguagePrefix) || first.size() == kLanguagePrefix.size()) {
    lang.Error = "line 1: expected \".Language=<name>,<description>\"";
    return lang;
  }
  lang.Language = first.substr(kLanguagePrefix.size());
  for (size_t number = 2; !text.empty(); ++number) {
    const std::string_view line = TrimBlanks(NextLine(text));
    if (line.empty()) continue;
    if (line.size() < 2 || line.front() != '"' || line.back() != '"') {
      lang.Error = LineError(number, "expected one double-quoted text");
      return lang;
    }
    const std::string_view message = line.substr(1, line.size() - 2);
    // The host hands texts on as zero-terminated strings.
    if (message.find('\0') != std::string_view::npos) {
      lang.Error = LineError(number, "zero byte inside the text");
      return lang;
    }
    lang.Messages.emplace_back(message);
  }
  return lang;
}

LangFile LoadLangFile(const std::string& path) {
  LangFile lang;
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    lang.Error = "cannot open " + path + ": " + std::strerror(errno);
    return lang;
  }
  // Read a piece at a time: a file is usually a few kilobytes, and reading
  // one byte more than allowed tells a file that is too large.
  std::string bytes;
  char piece[65536];
  while (bytes.size() <= kMaxLangFileSize) {
    const size_t got = std::fread(piece, 1, sizeof piece, file.get());
    bytes.append(piece, got);
    if (got < sizeof piece) break;
  }
  if (std::ferror(file.get())) {
    lang.Error = "cannot read " + path;
    return lang;
  }
  if (bytes.size() > kMaxLangFileSize) {
    lang.Error = path + " is larger than " + std::to_string(kMaxLangFileSize) + " bytes";
    return lang;
  }
  lang = ParseLangText(bytes);
  if (!lang.Error.empty()) lang.Error = path + ": " + lang.Error;
  return lang;
}

std::string Cp866ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      AppendUtf8(out, kCp866High[byte - 0x80]);
    }
  }
  return out;
}

}  // namespace marlit
