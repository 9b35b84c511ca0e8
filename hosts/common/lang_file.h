// The stand-in hosts' reader of the plug-in's language files, and the code
// page conversion the console host needs to show their texts.
//
// A language file is what the 1.x host reads: a first line
// ".Language=<name>,<description>", then one double-quoted message a line,
// message 0 first. Texts are 8-bit, in the OEM code page of their language.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marlit {

// A loaded language file. Error is empty when the file was read and well
// formed; otherwise it says what is wrong (and Messages may be partial).
struct LangFile {
  std::string Language;               // after ".Language=", e.g. "English,English"
  std::vector<std::string> Messages;  // by message id
  std::string Error;
};

// Files larger than this are refused rather than read into memory.
constexpr size_t kMaxLangFileSize = 1 << 20;

// Reads the language file at path (opened as given, in binary mode).
LangFile LoadLangFile(const std::string& path);

// Parses the bytes of a language file. Lines end in "\n" or "\r\n", the last
// one may lack it; blank lines are skipped. Every other line after the first
// holds one message: the bytes between its first and its last double quote,
// taken as they stand (a quote inside a text needs no escape). Any input
// yields a result.
LangFile ParseLangText(std::string_view text);

// Converts text in code page 866 (the Russian OEM code page) to UTF-8: bytes
// below 0x80 are kept, every other byte becomes its character's UTF-8 form.
std::string Cp866ToUtf8(std::string_view text);

}  // namespace marlit
