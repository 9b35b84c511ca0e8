#include "console/dialog/history.h"

#include <algorithm>

namespace marlit::console {
namespace {

constexpr char kHex[] = "0123456789abcdef";

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == 0x7F || c == '\\'; }

void Escape(std::string& out, std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (NeedsEscape(byte)) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Undoes Escape; false for a text that Escape cannot have written.
bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte != '\\') {
      if (NeedsEscape(byte)) return false;
      out += text[i];
      continue;
    }
    if (i + 3 >= text.size() || text[i + 1] != 'x') return false;
    const int high = HexValue(text[i + 2]);
    const int low = HexValue(text[i + 3]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high << 4 | low);
    i += 3;
  }
  return true;
}

History* Find(HistoryStore& store, std::string_view name) {
  for (History& history : store.Histories) {
    if (history.Name == name) return &history;
  }
  return nullptr;
}

}  // namespace

std::string HistoryFilePath(const char* stateHome, const char* home) {
  if (stateHome != nullptr && stateHome[0] == '/')
    return std::string(stateHome) + "/marlit/history";
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/state/marlit/history";
  return {};
}

HistoryStore ParseHistory(std::string_view text) {
  HistoryStore store;
  const size_t first = text.find('\n');
  if (text.substr(0, first) != kHistoryHeader || first == std::string_view::npos) return store;
  text.remove_prefix(first + 1);
  std::string name;
  std::string entry;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) continue;
    if (!Unescape(line.substr(0, tab), name) || !Unescape(line.substr(tab + 1), entry)) continue;
    if (name.empty() || name.size() > kHistoryNameBytes) continue;
    if (entry.empty() || entry.size() > kHistoryTextBytes) continue;
    History* history = Find(store, name);
    if (history == nullptr) {
      if (store.Histories.size() >= kHistoryNames) continue;
      store.Histories.push_back(History{name, {}});
      history = &store.Histories.back();
    }
    if (history->Entries.size() >= kHistoryEntries) continue;
    if (std::find(history->Entries.begin(), history->Entries.end(), entry) !=
        history->Entries.end()) {
      continue;
    }
    history->Entries.push_back(entry);
  }
  return store;
}

std::string FormatHistory(const HistoryStore& store) {
  std::string text = std::string(kHistoryHeader) + "\n";
  for (const History& history : store.Histories) {
    for (const std::string& entry : history.Entries) {
      Escape(text, history.Name);
      text += '\t';
      Escape(text, entry);
      text += '\n';
    }
  }
  return text;
}

const std::vector<std::string>* FindHistory(const HistoryStore& store, std::string_view name) {
  for (const History& history : store.Histories) {
    if (history.Name == name) return &history.Entries;
  }
  return nullptr;
}

void AddToHistory(HistoryStore& store, std::string_view name, std::string_view text) {
  if (name.empty() || name.size() > kHistoryNameBytes) return;
  if (text.empty() || text.size() > kHistoryTextBytes) return;
  History added{std::string(name), {}};
  if (History* old = Find(store, name)) {
    added = std::move(*old);
    store.Histories.erase(store.Histories.begin() + (old - store.Histories.data()));
  }
  std::vector<std::string>& entries = added.Entries;
  entries.erase(std::remove(entries.begin(), entries.end(), text), entries.end());
  entries.insert(entries.begin(), std::string(text));
  if (entries.size() > kHistoryEntries) entries.resize(kHistoryEntries);
  store.Histories.insert(store.Histories.begin(), std::move(added));
  if (store.Histories.size() > kHistoryNames) store.Histories.resize(kHistoryNames);
}

}  // namespace marlit::console
