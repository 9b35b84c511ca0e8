// POSIX registry services: a stand-in for the Windows registry, used on
// systems without one. Keys and values live in one text file in the registry
// export format that Windows' own tools read and write:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Far\Plugins\Marlit]
//   "Mask"="*.txt"
//   "Mode"=dword:00000002
//   "Blob"=hex:01,ff,20
//
// The file is $MARLIT_REGISTRY when set, else $XDG_CONFIG_HOME/marlit/
// registry.reg, else ~/.config/marlit/registry.reg; folders it creates get
// mode 0700, the file 0600.
//
// Texts: the file is in the 8-bit code page of the texts it holds, as a
// REGEDIT4 file is in the Windows code page, so bytes 0x80..0xff stand in a
// "text" as they are; only `\` and `"` are escaped. A text value that could
// not stand on one line that way (a control byte such as a line break, a zero
// inside it, or no terminating zero) is written as hex(1): with its exact
// bytes, which Windows reads as the same REG_SZ. So every value round-trips
// byte for byte.
//
// Reads take no lock: a write never changes the file in place, it renames a
// complete new file over it, so a reader sees the old file or the new one.
// Writes are serialised by an exclusive lock on a lock file beside the store.
// The operations of one batch (see registry.h) share one reading of the
// file; the first write takes the lock (reading the file again only if it
// changed since), later ones change the parsed copy, and the end of the batch
// writes a temporary file in the same folder, flushes it to disk and renames
// it over the old one -- unless the batch left every byte as it was. An
// operation outside a batch is a batch of its own. Two processes writing the
// same key therefore interleave batch by batch, and a writer killed at any
// point leaves the old file or the new one, never a part of a batch.
//
// Lines the store cannot read are kept as they stand when it rewrites the
// file, and a value it cannot read is reported as Failed, so its reader takes
// the default. A file that does not begin with the REGEDIT4 line is not
// rewritten at all.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"

namespace marlit {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
// Longer names are refused; the registry's own limits are lower still.
constexpr size_t kMaxNameLength = 16383;
constexpr size_t kMaxKeyLength = 32767;

struct RootName {
  RegistryRoot Root;
  std::string_view Name;
};

// The root keys as the export format names them in its section lines.
const RootName kRootNames[] = {
    {0x80000000, "HKEY_CLASSES_ROOT"},   {kHkeyCurrentUser, "HKEY_CURRENT_USER"},
    {0x80000002, "HKEY_LOCAL_MACHINE"},  {0x80000003, "HKEY_USERS"},
    {0x80000005, "HKEY_CURRENT_CONFIG"},
};

// The one place where errno becomes a result.
RegistryResult Translate(int error) {
  switch (error) {
    case 0:
      return RegistryResult::Ok;
    case ENOENT:
    case ENOTDIR:
      return RegistryResult::Missing;
    default:
      return RegistryResult::Failed;
  }
}

// ---- Texts ------------------------------------------------------------------

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows compares key and value names without regard to case; letters
// outside ASCII are compared as bytes.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool HasControlByte(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a hexadecimal number of 1 to 8 digits that makes up the whole text.
bool ParseHex32(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 8) return false;
  value = 0;
  for (const char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return true;
}

// Reads a quoted text with `\\` and `\"` escaped from the start of `text`;
// `rest` gets what follows the closing quote.
bool ParseQuoted(std::string_view text, std::string& out, std::string_view& rest) {
  if (text.empty() || text.front() != '"') return false;
  out.clear();
  size_t at = 1;
  while (true) {
    const size_t stop = text.find_first_of("\\\"", at);
    if (stop == std::string_view::npos) return false;
    out.append(text.substr(at, stop - at));
    if (text[stop] == '"') {
      rest = text.substr(stop + 1);
      return true;
    }
    if (stop + 1 == text.size() || (text[stop + 1] != '\\' && text[stop + 1] != '"')) return false;
    out += text[stop + 1];
    at = stop + 2;
  }
}

void AppendQuoted(std::string& line, std::string_view text) {
  line += '"';
  for (const char c : text) {
    if (c == '\\' || c == '"') line += '\\';
    line += c;
  }
  line += '"';
}

void AppendHex(std::string& line, uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    line += kDigits[(value >> shift) & 0xf];
}

// ---- Values -------------------------------------------------------------------

struct Value {
  uint32_t Type;
  std::string Bytes;
};

// Reads the part of a value line after '=': "text", dword:, hex: or hex(n):.
bool ParseData(std::string_view text, Value& value) {
  text = TrimRight(TrimLeft(text));
  std::string_view rest;
  if (!text.empty() && text.front() == '"') {
    if (!ParseQuoted(text, value.Bytes, rest) || !TrimLeft(rest).empty()) return false;
    value.Type = kRegSz;
    value.Bytes += '\0';
    return true;
  }
  if (text.starts_with("dword:")) {
    uint32_t number = 0;
    if (!ParseHex32(text.substr(6), number)) return false;
    value.Type = kRegDword;
    value.Bytes.clear();
    for (int i = 0; i < 4; ++i) value.Bytes += static_cast<char>(number >> (8 * i) & 0xff);
    return true;
  }
  if (text.starts_with("hex:")) {
    value.Type = kRegBinary;
    rest = text.substr(4);
  } else if (text.starts_with("hex(")) {
    const size_t close = text.find("):");
    if (close == std::string_view::npos || !ParseHex32(text.substr(4, close - 4), value.Type)) {
      return false;
    }
    rest = text.substr(close + 2);
  } else {
    return false;
  }
  value.Bytes.clear();
  value.Bytes.reserve(rest.size() / 3 + 1);
  rest = TrimLeft(rest);
  while (!rest.empty()) {
    size_t digits = 0;
    while (digits < rest.size() && digits < 3 && HexDigit(rest[digits]) >= 0) ++digits;
    if (digits == 0 || digits > 2) return false;
    value.Bytes += static_cast<char>(digits == 1 ? HexDigit(rest[0])
                                                 : HexDigit(rest[0]) << 4 | HexDigit(rest[1]));
    rest = TrimLeft(rest.substr(digits));
    if (rest.empty()) break;
    if (rest.front() != ',') return false;
    rest = TrimLeft(rest.substr(1));
  }
  return true;
}

// A REG_SZ that is one line of text ending in its one zero.
bool IsPlainText(const Value& value) {
  if (value.Type != kRegSz || value.Bytes.empty() || value.Bytes.back() != '\0') return false;
  const std::string_view text(value.Bytes.data(), value.Bytes.size() - 1);
  return text.find('\0') == std::string_view::npos && !HasControlByte(text);
}

// Forms a value line, without its line end.
std::string FormatValue(std::string_view name, const Value& value) {
  std::string line;
  if (name.empty()) {
    line += '@';
  } else {
    AppendQuoted(line, name);
  }
  line += '=';
  if (IsPlainText(value)) {
    AppendQuoted(line, std::string_view(value.Bytes.data(), value.Bytes.size() - 1));
    return line;
  }
  if (value.Type == kRegDword && value.Bytes.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value.Bytes[i]);
    line += "dword:";
    AppendHex(line, number, 8);
    return line;
  }
  if (value.Type == kRegBinary) {
    line += "hex:";
  } else {
    line += "hex(";
    int digits = 1;
    while (digits < 8 && (value.Type >> (4 * digits)) != 0) ++digits;
    AppendHex(line, value.Type, digits);
    line += "):";
  }
  line.reserve(line.size() + 3 * value.Bytes.size());
  for (size_t i = 0; i < value.Bytes.size(); ++i) {
    if (i != 0) line += ',';
    AppendHex(line, static_cast<unsigned char>(value.Bytes[i]), 2);
  }
  return line;
}

// ---- The document -------------------------------------------------------------

enum class LineKind {
  Other,    // blank lines, comments and anything the store cannot read
  Section,  // [root\key]
  Value,    // "Name"=data or @=data, data readable or not
};

// One logical line: a physical line, or a hex value continued over several
// with a trailing `\`. Raw is the text as it stands in the file, line ends
// included, so that lines are written back unchanged. A value's data is read
// only when the value is asked for.
struct Line {
  std::string Raw;
  LineKind Kind;
  std::string Name;  // the key of a section, the name of a value
};

struct Document {
  bool Valid;  // the text is empty or begins with the header line
  std::vector<Line> Lines;
  std::string LineEnd;  // "\r\n" when the header line ends so, else "\n"
};

std::string_view Content(std::string_view raw) {
  while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
  return raw;
}

// Reads the name of a value line ("Name" or @) and the '=' after it; `data`
// gets the rest of the line.
bool SplitValueLine(std::string_view text, std::string& name, std::string_view& data) {
  std::string_view rest;
  if (!text.empty() && text.front() == '@') {
    name.clear();
    rest = text.substr(1);
  } else if (!ParseQuoted(text, name, rest)) {
    return false;
  }
  rest = TrimLeft(rest);
  if (rest.empty() || rest.front() != '=') return false;
  data = TrimLeft(rest.substr(1));
  return true;
}

// A hex value goes on in the next physical line when its line ends with `\`.
bool Continues(std::string_view raw) {
  const std::string_view content = TrimRight(raw);
  return !content.empty() && content.back() == '\\';
}

// A continued hex value goes on only into a line that can hold hex data: a
// line that opens a value or a section ends it. So a hand-made file whose
// last value ends in a stray `\` cannot swallow the lines the store writes
// after it.
bool HoldsHexData(std::string_view raw) {
  const std::string_view text = TrimLeft(raw);
  return text.empty() || (text.front() != '"' && text.front() != '@' && text.front() != '[');
}

std::string_view FirstLine(std::string_view raw) {
  return TrimRight(TrimLeft(Content(raw.substr(0, raw.find('\n')))));
}

void Classify(Line& line) {
  line.Kind = LineKind::Other;
  const std::string_view first = FirstLine(line.Raw);
  if (first.empty()) return;
  if (first.front() == '[') {
    // "[-key]" deletes a key on import; such a section matches no key, so
    // its values are kept in the file but belong to nothing the store reads.
    if (first.size() < 2 || first.back() != ']') return;
    line.Kind = LineKind::Section;
    line.Name.assign(first.substr(1, first.size() - 2));
    return;
  }
  std::string_view data;
  if (SplitValueLine(first, line.Name, data)) line.Kind = LineKind::Value;
}

// Reads the data of a value line; false when it cannot be read.
bool ReadData(const Line& line, Value& value) {
  std::string name;
  std::string_view data;
  if (line.Kind != LineKind::Value || !SplitValueLine(FirstLine(line.Raw), name, data)) {
    return false;
  }
  if (line.Raw.find('\n') + 1 >= line.Raw.size()) return ParseData(data, value);
  // The data with continuation marks and the indentation of continued lines
  // removed.
  std::string joined;
  std::string_view rest = line.Raw;
  for (bool first = true; !rest.empty(); first = false) {
    const size_t end = rest.find('\n');
    std::string_view piece = TrimRight(TrimLeft(first ? data : Content(rest.substr(0, end))));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    // The `\` that continues it; a blank line inside the value has none.
    if (!rest.empty() && piece.ends_with('\\')) piece.remove_suffix(1);
    joined += piece;
  }
  return ParseData(joined, value);
}

Document Parse(std::string_view text) {
  Document doc{true, {}, "\n"};
  auto nextLine = [&](size_t at) {
    const size_t end = text.find('\n', at);
    return end == std::string_view::npos ? text.size() : end + 1;
  };
  for (size_t at = 0; at < text.size();) {
    size_t end = nextLine(at);
    Line line{std::string(text.substr(at, end - at)), LineKind::Other, {}};
    at = end;
    std::string name;
    std::string_view data;
    const bool isHex = Continues(line.Raw) &&
                       SplitValueLine(TrimLeft(Content(line.Raw)), name, data) &&
                       data.starts_with("hex");
    while (isHex && Continues(line.Raw) && at < text.size() &&
           HoldsHexData(text.substr(at, nextLine(at) - at))) {
      end = nextLine(at);
      line.Raw.append(text.substr(at, end - at));
      at = end;
    }
    doc.Lines.push_back(std::move(line));
  }
  if (doc.Lines.empty()) return doc;
  const std::string& first = doc.Lines.front().Raw;
  if (TrimRight(first) != kHeader) {
    doc.Valid = false;
    return doc;
  }
  if (first.ends_with("\r\n")) doc.LineEnd = "\r\n";
  for (size_t i = 1; i < doc.Lines.size(); ++i) Classify(doc.Lines[i]);
  return doc;
}

std::string SectionName(std::string_view rootName, std::string_view key) {
  std::string name(rootName);
  if (!key.empty()) {
    name += '\\';
    name += key;
  }
  return name;
}

// Where a key and one of its values stand in the document.
struct Place {
  bool HasSection = false;
  size_t SectionEnd = 0;  // after the last non-blank line of the last matching section
  bool HasValue = false;
  size_t ValueLine = 0;  // the last line naming the value: it decides what is read
};

Place Find(const Document& doc, std::string_view section, std::string_view name) {
  Place place;
  bool inside = false;
  for (size_t i = 1; i < doc.Lines.size(); ++i) {
    const Line& line = doc.Lines[i];
    if (line.Kind == LineKind::Section) {
      inside = SameName(line.Name, section);
      if (inside) {
        place.HasSection = true;
        place.SectionEnd = i + 1;
      }
      continue;
    }
    if (!inside) continue;
    if (!TrimRight(line.Raw).empty()) place.SectionEnd = i + 1;
    if (line.Kind == LineKind::Value && SameName(line.Name, name)) {
      place.HasValue = true;
      place.ValueLine = i;
    }
  }
  return place;
}

// ---- The file -------------------------------------------------------------------

struct StorePaths {
  std::string File;
  std::string Folder;
};

// Where the store lives; false when no place can be named.
bool LocateStore(StorePaths& paths) {
  const char* explicitPath = std::getenv("MARLIT_REGISTRY");
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (explicitPath != nullptr && explicitPath[0] != '\0') {
    paths.File = explicitPath;
  } else if (configHome != nullptr && configHome[0] == '/') {  // relative ones are to be ignored
    paths.File = std::string(configHome) + "/marlit/registry.reg";
  } else if (home != nullptr && home[0] != '\0') {
    paths.File = std::string(home) + "/.config/marlit/registry.reg";
  } else {
    return false;
  }
  // A store that is a link to a file elsewhere is replaced there, so that the
  // link stays. (Links among the folders above it change nothing: the new
  // file is made beside the old one whichever way the folder is named.)
  struct stat link {};
  if (lstat(paths.File.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    if (char* resolved = realpath(paths.File.c_str(), nullptr)) {
      paths.File = resolved;
      std::free(resolved);
    }
  }
  const size_t slash = paths.File.rfind('/');
  if (slash == std::string::npos) {
    paths.Folder = ".";
  } else {
    paths.Folder = paths.File.substr(0, slash == 0 ? 1 : slash);
  }
  return !paths.File.empty() && paths.File.back() != '/';
}

// Reads what is left of an open file; error 0 on success, else the errno.
int ReadAll(int fd, std::string& text) {
  char chunk[65536];
  while (true) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    text.append(chunk, static_cast<size_t>(got));
  }
}

// A file last changed this many seconds or more before it was read has
// settled: no change within the time stamps' granularity can hide behind
// its old ctime.
constexpr time_t kSettledSeconds = 2;

// The store as this process read it last.
struct StoreCopy {
  bool Taken = false;
  int Error = 0;     // 0 when read, else the errno (ENOENT: no store yet)
  std::string Text;  // the bytes read, to tell a batch that changed nothing
  Document Doc{true, {}, "\n"};
  // The file read, held open while the copy is kept so that no other file
  // can be given its inode number meanwhile.
  int Fd = -1;
  struct stat Info {};
  bool Settled = false;
};

void DropCopy(StoreCopy& copy) {
  if (copy.Fd >= 0) close(copy.Fd);
  copy = StoreCopy{};
}

// Reads and parses the whole store. Opened without blocking, so that a FIFO
// put in its place cannot stall a run.
void TakeCopy(const std::string& path, StoreCopy& copy) {
  DropCopy(copy);
  copy.Taken = true;
  const time_t now = std::time(nullptr);
  copy.Fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (copy.Fd < 0) {
    copy.Error = errno;
    return;
  }
  if (fstat(copy.Fd, &copy.Info) != 0) {
    copy.Error = errno;
  } else if (!S_ISREG(copy.Info.st_mode)) {
    copy.Error = EINVAL;
  } else {
    copy.Error = ReadAll(copy.Fd, copy.Text);
  }
  if (copy.Error != 0) {
    close(copy.Fd);
    copy.Fd = -1;
    copy.Text.clear();
    return;
  }
  copy.Doc = Parse(copy.Text);
  copy.Settled = copy.Info.st_ctim.tv_sec <= now - kSettledSeconds;
}

// Whether the file at `path` is still the one the copy was read from, with
// the same bytes: every writer puts a new file in place, and one that changes
// the file where it stands changes its size or its time stamps.
bool StillTheSame(const std::string& path, const StoreCopy& copy) {
  if (!copy.Taken) return false;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return errno == ENOENT && copy.Error == ENOENT;
  const struct stat& was = copy.Info;
  return copy.Error == 0 && copy.Settled && info.st_dev == was.st_dev &&
         info.st_ino == was.st_ino && info.st_size == was.st_size &&
         info.st_mtim.tv_sec == was.st_mtim.tv_sec && info.st_mtim.tv_nsec == was.st_mtim.tv_nsec &&
         info.st_ctim.tv_sec == was.st_ctim.tv_sec && info.st_ctim.tv_nsec == was.st_ctim.tv_nsec;
}

// Creates the folder and any missing folder above it, each with mode 0700.
int MakeFolders(const std::string& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
  if (errno != ENOENT) return errno;
  const size_t slash = folder.rfind('/');
  if (slash != std::string::npos && slash != 0) {
    const int error = MakeFolders(folder.substr(0, slash));
    if (error != 0) return error;
  }
  if (mkdir(folder.c_str(), 0700) != 0) return errno == EEXIST ? 0 : errno;
  chmod(folder.c_str(), 0700);  // whatever the umask took away
  return 0;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t put = write(fd, text.data(), text.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    text.remove_prefix(static_cast<size_t>(put));
  }
  return true;
}

// Puts a complete new store in place of the old one: temporary file, flush,
// rename. Runs under the lock, so the temporary file's name is the writer's
// alone; one left behind by a killed writer is removed first.
bool ReplaceStore(const StorePaths& paths, std::string_view text) {
  const std::string temporary = paths.File + ".tmp";
  unlink(temporary.c_str());
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool written = fchmod(fd, 0600) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written || rename(temporary.c_str(), paths.File.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  // The folder is not flushed: after a crash the rename may be lost, leaving
  // the old complete file, as Windows may lose a registry write it has not
  // yet flushed. The new file's own flush is what keeps it from being empty.
  return true;
}

// ---- Batches --------------------------------------------------------------------

// The operations between the outermost BeginRegistryBatch and its
// EndRegistryBatch; an operation outside any is a batch of its own. A batch
// names the store once, reads it at most once, takes the lock at its first
// change and keeps it, and puts the changed file in place once at its end.
struct Batch {
  int Depth = 0;
  bool Located = false;
  bool Placed = false;  // a place for the store could be named
  StorePaths Paths;
  StoreCopy Copy;  // under the lock: the store with the batch's changes
  int Lock = -1;
  bool Refused = false;  // a change could not be made: the later ones fail too
  bool Changed = false;
  ~Batch();
};

Batch g_batch;

bool Locate(Batch& batch) {
  if (!batch.Located) {
    batch.Placed = LocateStore(batch.Paths);
    batch.Located = true;
  }
  return batch.Placed;
}

// The copy reads answer from: the batch's own once it holds the lock.
const StoreCopy* CurrentCopy(Batch& batch) {
  if (!Locate(batch)) return nullptr;
  if (!batch.Copy.Taken) TakeCopy(batch.Paths.File, batch.Copy);
  return &batch.Copy;
}

// Takes the lock for the batch's changes and makes sure its copy is the
// file as it stands under the lock. Ok when changes can be made.
RegistryResult HoldStore(Batch& batch) {
  if (batch.Refused) return RegistryResult::Failed;
  if (batch.Lock >= 0) return RegistryResult::Ok;
  batch.Refused = true;  // until all of the below succeeded
  if (!Locate(batch) || MakeFolders(batch.Paths.Folder) != 0) return RegistryResult::Failed;
  const std::string lockPath = batch.Paths.File + ".lock";
  // Read access is all flock needs; the lock file stays empty.
  const int lock = open(lockPath.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock < 0) return RegistryResult::Failed;
  fchmod(lock, 0600);  // whatever the umask took away
  while (flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(lock);
      return RegistryResult::Failed;
    }
  }
  batch.Lock = lock;
  StoreCopy& copy = batch.Copy;
  if (!StillTheSame(batch.Paths.File, copy)) TakeCopy(batch.Paths.File, copy);
  if (copy.Error == ENOENT) copy.Error = 0;  // a new store, empty so far
  if (copy.Error != 0 || !copy.Doc.Valid) return RegistryResult::Failed;
  if (copy.Doc.Lines.empty()) {
    copy.Doc.Lines.push_back(Line{std::string(kHeader) + copy.Doc.LineEnd, LineKind::Other, {}});
  }
  batch.Refused = false;
  return RegistryResult::Ok;
}

// Ends the outermost batch: puts its changes in place unless they leave the
// file as it was, releases the lock and forgets the copy and the paths.
RegistryResult FinishBatch(Batch& batch) {
  RegistryResult result = RegistryResult::Ok;
  if (batch.Lock >= 0) {
    if (batch.Changed) {
      std::string out;
      out.reserve(batch.Copy.Text.size() + 256);
      for (const Line& line : batch.Copy.Doc.Lines) out += line.Raw;
      if (out != batch.Copy.Text && !ReplaceStore(batch.Paths, out)) {
        result = RegistryResult::Failed;
      }
    }
    close(batch.Lock);  // releases the lock
  }
  DropCopy(batch.Copy);
  batch.Depth = 0;
  batch.Located = false;
  batch.Placed = false;
  batch.Paths = StorePaths{};
  batch.Lock = -1;
  batch.Refused = false;
  batch.Changed = false;
  return result;
}

// A batch still open when the module is unloaded or the process ends is put
// in place then; only a process killed outright loses it, whole.
Batch::~Batch() {
  if (Depth > 0) FinishBatch(*this);
}

// Runs one change of the store: `change` edits the document and returns the
// operation's result. Outside a batch the file is rewritten at once.
template <typename Change>
RegistryResult ChangeStore(Change change) {
  BeginRegistryBatch();
  RegistryResult result = HoldStore(g_batch);
  if (result == RegistryResult::Ok) {
    result = change(g_batch.Copy.Doc);
    if (result == RegistryResult::Ok) g_batch.Changed = true;
  }
  const RegistryResult ended = EndRegistryBatch();
  return result == RegistryResult::Ok ? ended : result;
}

bool ReadableArgument(const char* text, size_t maxLength, std::string_view& view) {
  if (text == nullptr) return false;
  const size_t length = BoundedLength(text, maxLength + 1);
  if (length > maxLength) return false;
  view = std::string_view(text, length);
  return !HasControlByte(view);
}

bool RootNameOf(RegistryRoot root, std::string_view& name) {
  for (const RootName& entry : kRootNames) {
    if (entry.Root == root) {
      name = entry.Name;
      return true;
    }
  }
  return false;
}

// Reads a value from the store's copy, as ReadRegistryValue does.
RegistryResult ReadFromCopy(const StoreCopy* copy, std::string_view section, std::string_view name,
                            void* buffer, uint32_t* size, uint32_t* type) {
  if (copy == nullptr) return RegistryResult::Failed;
  if (copy->Error != 0) return Translate(copy->Error);
  const Document& doc = copy->Doc;
  if (!doc.Valid) return RegistryResult::Failed;
  const Place place = Find(doc, section, name);
  if (!place.HasValue) return RegistryResult::Missing;
  Value value;
  if (!ReadData(doc.Lines[place.ValueLine], value) || value.Bytes.size() > UINT32_MAX) {
    return RegistryResult::Failed;
  }
  const uint32_t stored = static_cast<uint32_t>(value.Bytes.size());
  if (buffer != nullptr && stored > *size) {
    *size = stored;
    return RegistryResult::TooLong;
  }
  if (buffer != nullptr && stored != 0) std::memcpy(buffer, value.Bytes.data(), stored);
  *size = stored;
  if (type != nullptr) *type = value.Type;
  return RegistryResult::Ok;
}

// Whether the store's copy holds the value already, of the same type and bytes.
bool HoldsAlready(const StoreCopy* copy, std::string_view section, std::string_view name,
                  const Value& value) {
  if (copy == nullptr || copy->Error != 0 || !copy->Doc.Valid) return false;
  const Place place = Find(copy->Doc, section, name);
  Value stored;
  return place.HasValue && ReadData(copy->Doc.Lines[place.ValueLine], stored) &&
         stored.Type == value.Type && stored.Bytes == value.Bytes;
}

}  // namespace

RegistryResult ReadRegistryValue(RegistryRoot root, const char* key, const char* name, void* buffer,
                                 uint32_t* size, uint32_t* type) {
  std::string_view rootName, keyText, nameText;
  if (size == nullptr || !RootNameOf(root, rootName) ||
      !ReadableArgument(key, kMaxKeyLength, keyText) ||
      !ReadableArgument(name == nullptr ? "" : name, kMaxNameLength, nameText)) {
    return RegistryResult::Failed;
  }
  BeginRegistryBatch();
  const RegistryResult result = ReadFromCopy(CurrentCopy(g_batch), SectionName(rootName, keyText),
                                             nameText, buffer, size, type);
  EndRegistryBatch();
  return result;
}

RegistryResult WriteRegistryValue(RegistryRoot root, const char* key, const char* name,
                                  uint32_t type, const void* bytes, uint32_t size) {
  std::string_view rootName, keyText, nameText;
  if ((bytes == nullptr && size != 0) || !RootNameOf(root, rootName) ||
      !ReadableArgument(key, kMaxKeyLength, keyText) ||
      !ReadableArgument(name == nullptr ? "" : name, kMaxNameLength, nameText)) {
    return RegistryResult::Failed;
  }
  const Value value{type, std::string(static_cast<const char*>(bytes), size)};
  const std::string section = SectionName(rootName, keyText);
  // A value written as the store already holds it changes nothing: it takes
  // no lock (a batch that writes back the values it read never does).
  BeginRegistryBatch();
  if (g_batch.Lock < 0 && HoldsAlready(CurrentCopy(g_batch), section, nameText, value)) {
    return EndRegistryBatch();
  }
  const std::string valueLine = FormatValue(nameText, value);
  const RegistryResult written = ChangeStore([&](Document& doc) {
    const Place place = Find(doc, section, nameText);
    Line line{valueLine + doc.LineEnd, LineKind::Value, std::string(nameText)};
    Value current;
    if (place.HasValue && ReadData(doc.Lines[place.ValueLine], current)) {
      // The line keeps the line end it had ("" only for a last line).
      const std::string& raw = doc.Lines[place.ValueLine].Raw;
      line.Raw = valueLine + (raw.ends_with("\r\n") ? "\r\n" : raw.ends_with("\n") ? "\n" : "");
      doc.Lines[place.ValueLine] = std::move(line);
      return RegistryResult::Ok;
    }
    // A new value, or one whose line cannot be read: that line stays, and the
    // new one goes after it, at the end of the key's last section.
    std::string& last = doc.Lines.back().Raw;
    if (!last.ends_with("\n")) last += doc.LineEnd;
    if (place.HasSection) {
      doc.Lines.insert(doc.Lines.begin() + static_cast<ptrdiff_t>(place.SectionEnd),
                       std::move(line));
      return RegistryResult::Ok;
    }
    if (doc.Lines.size() == 1 || !TrimRight(doc.Lines.back().Raw).empty()) {
      doc.Lines.push_back(Line{doc.LineEnd, LineKind::Other, {}});
    }
    doc.Lines.push_back(Line{"[" + section + "]" + doc.LineEnd, LineKind::Section, section});
    doc.Lines.push_back(std::move(line));
    return RegistryResult::Ok;
  });
  const RegistryResult ended = EndRegistryBatch();
  return written == RegistryResult::Ok ? ended : written;
}

RegistryResult DeleteRegistryKey(RegistryRoot root, const char* key) {
  std::string_view rootName, keyText;
  if (!RootNameOf(root, rootName) || !ReadableArgument(key, kMaxKeyLength, keyText) ||
      keyText.empty()) {
    return RegistryResult::Failed;
  }
  const std::string section = SectionName(rootName, keyText);
  BeginRegistryBatch();
  // No store, no key: nothing to lock or create.
  struct stat info {};
  const bool none = g_batch.Lock < 0 && Locate(g_batch) &&
                    stat(g_batch.Paths.File.c_str(), &info) != 0 && errno == ENOENT;
  const RegistryResult result = none ? RegistryResult::Missing : ChangeStore([&](Document& doc) {
    // Drops every section of the key or below it, with all its lines.
    std::vector<Line> kept;
    bool dropping = false;
    bool found = false;
    for (size_t i = 0; i < doc.Lines.size(); ++i) {
      Line& line = doc.Lines[i];
      if (i != 0 && line.Kind == LineKind::Section) {
        dropping = SameName(line.Name, section) ||
                   (line.Name.size() > section.size() && line.Name[section.size()] == '\\' &&
                    SameName(std::string_view(line.Name).substr(0, section.size()), section));
        found = found || dropping;
      }
      if (!dropping) kept.push_back(std::move(line));
    }
    doc.Lines = std::move(kept);
    return found ? RegistryResult::Ok : RegistryResult::Missing;
  });
  const RegistryResult ended = EndRegistryBatch();
  return result == RegistryResult::Ok ? ended : result;
}

void BeginRegistryBatch() { ++g_batch.Depth; }

RegistryResult EndRegistryBatch() {
  if (g_batch.Depth <= 0) return RegistryResult::Ok;
  if (--g_batch.Depth > 0) return RegistryResult::Ok;
  return FinishBatch(g_batch);
}

std::string RegistryStoreLocation() {
  StorePaths paths;
  return LocateStore(paths) ? paths.File : std::string();
}

}  // namespace marlit
