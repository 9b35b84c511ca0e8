#include "console/dialog/form.h"

#include <wchar.h>
#include <wctype.h>

#include <algorithm>

#include "console/cli/options.h"
#include "platform/text.h"

namespace marlit::console {
namespace {

std::string_view TextOf(const FarDialogItem& item) {
  return {item.Data, BoundedLength(item.Data, kDialogTextSize)};
}

// The length of the UTF-8 character that begins at text[at], or 0 when no
// well-formed one does (overlong forms, surrogates and values past U+10FFFF
// included).
size_t CharacterLength(std::string_view text, size_t at, char32_t& code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(at);
  if (first < 0x80) {
    code = first;
    return 1;
  }
  size_t length = 0;
  char32_t value = 0;
  char32_t least = 0;
  if (first >= 0xC2 && first < 0xE0) {
    length = 2;
    value = first & 0x1F;
    least = 0x80;
  } else if (first >= 0xE0 && first < 0xF0) {
    length = 3;
    value = first & 0x0F;
    least = 0x800;
  } else if (first >= 0xF0 && first < 0xF5) {
    length = 4;
    value = first & 0x07;
    least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = value << 6 | (byte(at + i) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  code = value;
  return length;
}

// Lower case for the letters hotkeys use, the same in every locale: Latin,
// Latin-1, Greek and Cyrillic capitals; others as the C library has them.
char32_t FoldCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c < 0x80) return c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c >= 0x391 && c <= 0x3A9) return c + 0x20;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c <= 0xFFFF) return static_cast<char32_t>(towlower(static_cast<wint_t>(c)));
  return c;
}

ItemKind KindOf(const FarDialogItem& item) {
  switch (item.Type) {
    case DI_TEXT:
      return (item.Flags & DIF_SEPARATOR) != 0 ? ItemKind::Separator : ItemKind::Label;
    case DI_DOUBLEBOX:
    case kSingleBoxType:
      return ItemKind::Box;
    case DI_EDIT:
      return ItemKind::Edit;
    case DI_CHECKBOX:
      return ItemKind::CheckBox;
    case DI_RADIOBUTTON:
      return ItemKind::RadioButton;
    case DI_BUTTON:
      return ItemKind::Button;
    default:
      return ItemKind::Ignored;
  }
}

// The cells of a caption with what surrounds it: "[x] ", "( ) ", "[ " " ]".
int CaptionWidth(ItemKind kind, std::string_view text) {
  const int caption = CellWidth(ParseHotkeyText(text).Shown);
  switch (kind) {
    case ItemKind::CheckBox:
    case ItemKind::RadioButton:
    case ItemKind::Button:
      return caption + 4;
    default:
      return caption;
  }
}

constexpr size_t kFieldBytes = kDialogTextSize - 1;

size_t ByteCount(const std::vector<Glyph>& glyphs) {
  size_t bytes = 0;
  for (const Glyph& g : glyphs) bytes += g.Bytes.size();
  return bytes;
}

bool InRange(const DialogForm& form, int index) {
  return index >= 0 && static_cast<size_t>(index) < form.Places.size();
}

bool IsEdit(const DialogForm& form, int index) {
  return InRange(form, index) && form.Places[index].Kind == ItemKind::Edit;
}

// Moves the focus to item `index`; an edit field is entered with its cursor
// at the end of its text.
void FocusOn(DialogForm& form, int index) {
  if (index == form.Focus) return;
  if (IsEdit(form, form.Focus)) form.Fields[form.Focus].Fresh = false;
  form.Focus = index;
  if (IsEdit(form, index)) {
    FieldText& field = form.Fields[index];
    field.Fresh = false;
    field.Cursor = field.Text.size();
  }
}

// The next focusable item after `from` in direction `step`, going round.
int NextFocusable(const DialogForm& form, int from, int step) {
  const int count = static_cast<int>(form.Places.size());
  if (count == 0) return -1;
  int at = from;
  for (int moved = 0; moved < count; ++moved) {
    at = ((at + step) % count + count) % count;
    if (form.Places[at].Focusable) return at;
  }
  return from;
}

void Move(DialogForm& form, int step) {
  const int next = NextFocusable(form, form.Focus, step);
  if (next >= 0) FocusOn(form, next);
}

// Space on an item, or its hotkey: toggles, picks or presses it.
KeyResult Activate(DialogForm& form, int index) {
  const ItemPlace& place = form.Places[index];
  switch (place.Kind) {
    case ItemKind::CheckBox:
      form.States[index] = form.States[index] != 0 ? 0 : 1;
      break;
    case ItemKind::RadioButton:
      for (size_t i = 0; i < form.Places.size(); ++i) {
        if (form.Places[i].Kind == ItemKind::RadioButton && form.Places[i].Group == place.Group) {
          form.States[i] = 0;
        }
      }
      form.States[index] = 1;
      break;
    case ItemKind::Button:
      return {KeyOutcome::Close, index};
    default:
      break;
  }
  return {};
}

bool HotkeyFound(DialogForm& form, const FarDialogItem* items, int count, char32_t letter,
                 KeyResult& result) {
  for (int i = 0; i < count; ++i) {
    const ItemKind kind = form.Places[i].Kind;
    if (kind != ItemKind::Label && kind != ItemKind::CheckBox && kind != ItemKind::RadioButton &&
        kind != ItemKind::Button) {
      continue;
    }
    const HotkeyText caption = ParseHotkeyText(TextOf(items[i]));
    if (caption.Hotkey < 0 || !SameHotkey(caption.Shown[caption.Hotkey].Code, letter)) continue;
    if (kind == ItemKind::Label) {
      // A label names the field after it.
      for (int next = i + 1; next < count; ++next) {
        if (form.Places[next].Focusable) {
          FocusOn(form, next);
          break;
        }
      }
      result = {};
      return true;
    }
    FocusOn(form, i);
    result = Activate(form, i);
    return true;
  }
  return false;
}

KeyResult PressEnter(DialogForm& form, const FarDialogItem* items, int count) {
  if (InRange(form, form.Focus) && form.Places[form.Focus].Kind == ItemKind::Button) {
    return {KeyOutcome::Close, form.Focus};
  }
  for (int i = 0; i < count; ++i) {
    if (items[i].DefaultButton != 0) return {KeyOutcome::Close, i};
  }
  return {};
}

// Keys that edit the focused field; false for those it leaves to the dialog.
bool EditField(DialogForm& form, const FarDialogItem* items, KeyPress key, KeyResult& result) {
  FieldText& field = form.Fields[form.Focus];
  const bool fresh = field.Fresh;
  result = {};
  switch (key.Key) {
    case DialogKey::Character: {
      if (key.Char < 0x20 || key.Char == 0x7F || key.Char > 0x10FFFF) return true;
      if (key.Char >= 0xD800 && key.Char <= 0xDFFF) return true;
      if (fresh) {
        field.Text.clear();
        field.Cursor = 0;
      }
      field.Fresh = false;
      Glyph glyph{Utf8Of(key.Char), key.Char};
      if (ByteCount(field.Text) + glyph.Bytes.size() > kFieldBytes) return true;
      field.Text.insert(field.Text.begin() + static_cast<std::ptrdiff_t>(field.Cursor),
                        std::move(glyph));
      ++field.Cursor;
      return true;
    }
    case DialogKey::Left:
      field.Fresh = false;
      if (field.Cursor > 0) --field.Cursor;
      return true;
    case DialogKey::Right:
      field.Fresh = false;
      if (field.Cursor < field.Text.size()) ++field.Cursor;
      return true;
    case DialogKey::Home:
      field.Fresh = false;
      field.Cursor = 0;
      return true;
    case DialogKey::End:
      field.Fresh = false;
      field.Cursor = field.Text.size();
      return true;
    case DialogKey::Backspace:
    case DialogKey::Delete:
    case DialogKey::ClearField:
      field.Fresh = false;
      if (fresh || key.Key == DialogKey::ClearField) {
        field.Text.clear();
        field.Cursor = 0;
      } else if (key.Key == DialogKey::Backspace && field.Cursor > 0) {
        --field.Cursor;
        field.Text.erase(field.Text.begin() + static_cast<std::ptrdiff_t>(field.Cursor));
      } else if (key.Key == DialogKey::Delete && field.Cursor < field.Text.size()) {
        field.Text.erase(field.Text.begin() + static_cast<std::ptrdiff_t>(field.Cursor));
      }
      return true;
    case DialogKey::History:
      if ((items[form.Focus].Flags & DIF_HISTORY) != 0) result.Outcome = KeyOutcome::ShowHistory;
      return true;
    default:
      return false;
  }
}

}  // namespace

std::vector<Glyph> SplitGlyphs(std::string_view text) {
  std::vector<Glyph> glyphs;
  size_t at = 0;
  while (at < text.size()) {
    char32_t code = 0;
    const size_t length = CharacterLength(text, at, code);
    if (length == 0) {
      glyphs.push_back(Glyph{std::string(1, text[at]), kReplacementCharacter});
      ++at;
    } else {
      glyphs.push_back(Glyph{std::string(text.substr(at, length)), code});
      at += length;
    }
  }
  return glyphs;
}

std::string JoinGlyphs(const std::vector<Glyph>& glyphs, size_t from, size_t to) {
  std::string text;
  for (size_t i = from; i < glyphs.size() && i < to; ++i) text += glyphs[i].Bytes;
  return text;
}

std::string Utf8Of(char32_t code) {
  std::string bytes;
  if (code < 0x80) {
    bytes += static_cast<char>(code);
  } else if (code < 0x800) {
    bytes += static_cast<char>(0xC0 | code >> 6);
    bytes += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    bytes += static_cast<char>(0xE0 | code >> 12);
    bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    bytes += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    bytes += static_cast<char>(0xF0 | code >> 18);
    bytes += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    bytes += static_cast<char>(0x80 | (code & 0x3F));
  }
  return bytes;
}

int CellWidth(char32_t code) {
  if (code < 0x7F) return 1;
  if (code > 0x10FFFF) return 1;
  const int width = wcwidth(static_cast<wchar_t>(code));
  return width == 2 ? 2 : 1;
}

int CellWidth(const std::vector<Glyph>& glyphs, size_t from, size_t to) {
  int cells = 0;
  for (size_t i = from; i < glyphs.size() && i < to; ++i) cells += CellWidth(glyphs[i].Code);
  return cells;
}

bool SameHotkey(char32_t a, char32_t b) { return FoldCase(a) == FoldCase(b); }

HotkeyText ParseHotkeyText(std::string_view text) {
  HotkeyText caption;
  const std::vector<Glyph> glyphs = SplitGlyphs(text);
  for (size_t i = 0; i < glyphs.size(); ++i) {
    if (glyphs[i].Code == '&' && i + 1 < glyphs.size()) {
      ++i;  // "&&" is the ampersand itself; "&x" marks x
      if (glyphs[i].Code != '&' && caption.Hotkey < 0) {
        caption.Hotkey = static_cast<int>(caption.Shown.size());
      }
    }
    caption.Shown.push_back(glyphs[i]);
  }
  return caption;
}

std::vector<int> CenterGroupColumns(const std::vector<int>& widths, int dialogWidth) {
  int total = 0;
  for (const int width : widths) total += width;
  if (!widths.empty()) total += static_cast<int>(widths.size()) - 1;
  int column = std::max(0, (dialogWidth - total) / 2);
  std::vector<int> columns;
  for (const int width : widths) {
    columns.push_back(column);
    column += width + 1;
  }
  return columns;
}

std::vector<ItemPlace> LayOutDialog(const FarDialogItem* items, int count, int width) {
  std::vector<ItemPlace> places(static_cast<size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    const FarDialogItem& item = items[i];
    ItemPlace& place = places[i];
    place.Kind = KindOf(item);
    place.Row = item.Y1;
    place.Column = item.X1;
    switch (place.Kind) {
      case ItemKind::Label:
        place.Width = CaptionWidth(place.Kind, TextOf(item));
        if (item.X1 == -1) place.Column = std::max(0, (width - place.Width) / 2);
        break;
      case ItemKind::Box:
        place.Width = std::max(2, item.X2 - item.X1 + 1);
        place.Bottom = std::max(item.Y1 + 1, item.Y2);
        place.Double = item.Type == DI_DOUBLEBOX;
        break;
      case ItemKind::Edit:
        place.Width = std::max(1, item.X2 - item.X1 + 1);
        place.Focusable = true;
        break;
      case ItemKind::CheckBox:
      case ItemKind::RadioButton:
      case ItemKind::Button:
        place.Width = CaptionWidth(place.Kind, TextOf(item));
        place.Focusable = true;
        break;
      case ItemKind::Separator:
      case ItemKind::Ignored:
        break;
    }
    if (place.Kind == ItemKind::RadioButton) {
      const bool continues = i > 0 && places[i - 1].Kind == ItemKind::RadioButton;
      place.Group = continues ? places[i - 1].Group : i;
    }
  }
  // Separators: across the box around their row, else the whole dialog.
  for (int i = 0; i < count; ++i) {
    ItemPlace& place = places[i];
    if (place.Kind != ItemKind::Separator) continue;
    place.Column = 0;
    place.Width = width;
    for (int b = 0; b < count; ++b) {
      const ItemPlace& box = places[b];
      if (box.Kind == ItemKind::Box && box.Row < place.Row && place.Row < box.Bottom) {
        place.Column = box.Column;
        place.Width = box.Width;
        place.Double = box.Double;
        place.JoinsFrame = true;
        break;
      }
    }
  }
  // Centred groups, row by row, in item order.
  std::vector<bool> done(places.size(), false);
  for (int i = 0; i < count; ++i) {
    if (done[i] || (items[i].Flags & DIF_CENTERGROUP) == 0) continue;
    const ItemKind kind = places[i].Kind;
    if (kind == ItemKind::Box || kind == ItemKind::Separator || kind == ItemKind::Ignored) continue;
    std::vector<int> members;
    std::vector<int> widths;
    for (int j = i; j < count; ++j) {
      const ItemKind other = places[j].Kind;
      if ((items[j].Flags & DIF_CENTERGROUP) == 0 || places[j].Row != places[i].Row ||
          other == ItemKind::Box || other == ItemKind::Separator || other == ItemKind::Ignored) {
        continue;
      }
      members.push_back(j);
      widths.push_back(places[j].Width);
      done[j] = true;
    }
    const std::vector<int> columns = CenterGroupColumns(widths, width);
    for (size_t k = 0; k < members.size(); ++k) places[members[k]].Column = columns[k];
  }
  return places;
}

DialogFrame PlaceDialog(int x1, int y1, int x2, int y2, int columns, int lines) {
  DialogFrame frame;
  if (x1 < 0) {
    frame.Width = std::max(1, x2);
    frame.Left = (columns - frame.Width) / 2;
  } else {
    frame.Width = std::max(1, x2 - x1 + 1);
    frame.Left = x1;
  }
  if (y1 < 0) {
    frame.Height = std::max(1, y2);
    frame.Top = (lines - frame.Height) / 2;
  } else {
    frame.Height = std::max(1, y2 - y1 + 1);
    frame.Top = y1;
  }
  return frame;
}

DialogForm OpenForm(const FarDialogItem* items, int count, int width) {
  DialogForm form;
  form.Places = LayOutDialog(items, count, width);
  form.States.assign(form.Places.size(), 0);
  form.Fields.assign(form.Places.size(), FieldText{});
  for (int i = 0; i < count; ++i) {
    switch (form.Places[i].Kind) {
      case ItemKind::CheckBox:
      case ItemKind::RadioButton:
        form.States[i] = items[i].Selected;
        break;
      case ItemKind::Edit: {
        FieldText& field = form.Fields[i];
        field.Text = SplitGlyphs(TextOf(items[i]));
        field.Cursor = field.Text.size();
        ScrollField(field, form.Places[i].Width);
        break;
      }
      default:
        break;
    }
  }
  for (int i = 0; i < count && form.Focus < 0; ++i) {
    if (form.Places[i].Focusable && items[i].Focus != 0) form.Focus = i;
  }
  for (int i = 0; i < count && form.Focus < 0; ++i) {
    if (form.Places[i].Focusable) form.Focus = i;
  }
  if (IsEdit(form, form.Focus)) form.Fields[form.Focus].Fresh = true;
  return form;
}

KeyResult HandleKey(DialogForm& form, const FarDialogItem* items, int count, KeyPress key) {
  if (key.Key == DialogKey::Cancel) return {KeyOutcome::Close, -1};
  if (key.Key == DialogKey::Help) return {KeyOutcome::ShowHelp, -1};
  if (!InRange(form, form.Focus) || static_cast<int>(form.Places.size()) != count) return {};
  KeyResult result;
  if (key.Key == DialogKey::Alt) {
    HotkeyFound(form, items, count, key.Char, result);
    return result;
  }
  if (IsEdit(form, form.Focus)) {
    if (EditField(form, items, key, result)) {
      ScrollField(form.Fields[form.Focus], form.Places[form.Focus].Width);
      return result;
    }
  }
  switch (key.Key) {
    case DialogKey::Tab:
    case DialogKey::Down:
    case DialogKey::Right:
      Move(form, 1);
      break;
    case DialogKey::BackTab:
    case DialogKey::Up:
    case DialogKey::Left:
      Move(form, -1);
      break;
    case DialogKey::Enter:
      return PressEnter(form, items, count);
    case DialogKey::Character:
      if (key.Char == ' ') return Activate(form, form.Focus);
      if (form.Places[form.Focus].Kind == ItemKind::CheckBox &&
          (key.Char == '+' || key.Char == '-')) {
        form.States[form.Focus] = key.Char == '+' ? 1 : 0;
        break;
      }
      HotkeyFound(form, items, count, key.Char, result);
      return result;
    default:
      break;
  }
  return {};
}

void SetFieldText(DialogForm& form, int index, std::string_view text) {
  if (!IsEdit(form, index)) return;
  FieldText& field = form.Fields[index];
  field.Text = SplitGlyphs(CutToField(text, kFieldBytes));
  field.Cursor = field.Text.size();
  field.Fresh = false;
  field.Scroll = 0;
  ScrollField(field, form.Places[index].Width);
}

void ScrollField(FieldText& field, int width) {
  if (width <= 0) return;
  field.Cursor = std::min(field.Cursor, field.Text.size());
  const auto cursorCells = [&] {
    return field.Cursor < field.Text.size() ? CellWidth(field.Text[field.Cursor].Code) : 1;
  };
  if (field.Scroll > field.Cursor) field.Scroll = field.Cursor;
  while (field.Scroll < field.Cursor &&
         CellWidth(field.Text, field.Scroll, field.Cursor) + cursorCells() > width) {
    ++field.Scroll;
  }
  // Show as much of the text as fits when it has become shorter.
  while (field.Scroll > 0 &&
         CellWidth(field.Text, field.Scroll - 1) + (field.Cursor == field.Text.size() ? 1 : 0) <=
             width) {
    --field.Scroll;
  }
}

void WriteBack(const DialogForm& form, FarDialogItem* items, int count) {
  for (int i = 0; i < count && static_cast<size_t>(i) < form.Places.size(); ++i) {
    switch (form.Places[i].Kind) {
      case ItemKind::Edit:
        CopyText(items[i].Data, kDialogTextSize, JoinGlyphs(form.Fields[i].Text));
        break;
      case ItemKind::CheckBox:
      case ItemKind::RadioButton:
        items[i].Selected = form.States[i];
        break;
      default:
        break;
    }
  }
}

bool IsDefaultButton(const FarDialogItem* items, int count, int closed) {
  return closed >= 0 && closed < count && items[closed].DefaultButton != 0;
}

}  // namespace marlit::console
