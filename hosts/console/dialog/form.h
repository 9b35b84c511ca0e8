// The terminal dialog's working parts that need no screen: item texts split
// into characters, hotkey marks, where each item of a FarDialogItem array
// stands, and what each key does to a dialog being filled in. The screen
// (tty_posix.cpp) draws from the item records and these, and feeds keys in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "host/records.h"

namespace marlit::console {

// One character of an item text.
struct Glyph {
  std::string Bytes;  // as in the text: one UTF-8 character, or one stray byte
  char32_t Code = 0;  // the character; U+FFFD for a stray byte
};

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Splits text into its UTF-8 characters; any byte that does not begin a
// well-formed character is a glyph of its own.
std::vector<Glyph> SplitGlyphs(std::string_view text);

// The bytes of glyphs [from, to).
std::string JoinGlyphs(const std::vector<Glyph>& glyphs, size_t from = 0,
                       size_t to = static_cast<size_t>(-1));

// The UTF-8 form of one character.
std::string Utf8Of(char32_t code);

// The terminal cells a character takes: 2 for wide ones, 1 for every other
// (a character the terminal cannot show is drawn as one '?').
int CellWidth(char32_t code);
int CellWidth(const std::vector<Glyph>& glyphs, size_t from = 0,
              size_t to = static_cast<size_t>(-1));

// Whether two hotkeys are the same letter, in either case.
bool SameHotkey(char32_t a, char32_t b);

// A caption as shown: "&" marks the next character as the item's hotkey,
// "&&" stands for "&" itself. Only the first mark makes the hotkey.
struct HotkeyText {
  std::vector<Glyph> Shown;
  int Hotkey = -1;  // index into Shown of the highlighted character, -1 none
};
HotkeyText ParseHotkeyText(std::string_view text);

// Item types and flags beyond those the plug-in uses, which any host dialog
// may hold.
constexpr int kSingleBoxType = 2;

// What an item is on the screen.
enum class ItemKind { Ignored, Label, Separator, Box, Edit, CheckBox, RadioButton, Button };

// Where an item stands, in dialog coordinates (column 0, row 0 is the
// dialog's top left corner).
struct ItemPlace {
  ItemKind Kind = ItemKind::Ignored;
  int Row = 0;
  int Column = 0;
  int Width = 0;            // cells: caption with its brackets and marks, field, box
  int Bottom = 0;           // boxes: the last row
  int Group = -1;           // radio buttons: the first item of their run
  bool Double = false;      // boxes and separators in a double frame
  bool JoinsFrame = false;  // separators: ends joined to the frame's sides
  bool Focusable = false;
};

// The first columns of a centred group: the items of `widths`, one cell
// apart, centred in `dialogWidth` columns (a group wider than the dialog
// starts at column 0).
std::vector<int> CenterGroupColumns(const std::vector<int>& widths, int dialogWidth);

// Places every item of a dialog `width` columns wide. DIF_CENTERGROUP items
// on one row are centred together; a label with X1 -1 is centred alone; a
// separator spans the box around its row (its ends on the box's sides), or
// the whole dialog; runs of consecutive radio buttons form a group.
std::vector<ItemPlace> LayOutDialog(const FarDialogItem* items, int count, int width);

// Where the dialog's top left corner goes on a screen of `columns` by
// `lines`, and its size, from the Dialog call's X1, Y1, X2, Y2: -1 and -1
// centre a dialog X2 wide and Y2 high, otherwise X1..X2 and Y1..Y2 are the
// corners on the screen.
struct DialogFrame {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};
DialogFrame PlaceDialog(int x1, int y1, int x2, int y2, int columns, int lines);

// One edit field being edited.
struct FieldText {
  std::vector<Glyph> Text;
  size_t Cursor = 0;   // glyph index, 0..Text.size()
  size_t Scroll = 0;   // the first glyph shown
  bool Fresh = false;  // shown marked: the first character typed replaces it
};

// A dialog being filled in: the states and texts a person changes, by item
// index. Layout, captions and types stay in the item records.
struct DialogForm {
  std::vector<ItemPlace> Places;
  std::vector<int> States;        // check boxes and radio buttons
  std::vector<FieldText> Fields;  // edit items
  int Focus = -1;
};

// Opens the form for `count` records: states and texts from the records, the
// focus on the first focusable item with Focus set (else the first focusable
// item), whose text, if it is an edit field, starts marked.
DialogForm OpenForm(const FarDialogItem* items, int count, int width);

// The keys of the dialog, as the screen reads them.
enum class DialogKey {
  Character,  // Char: typed, or the letter alone
  Alt,        // Char with Alt
  Tab,
  BackTab,
  Up,
  Down,
  Left,
  Right,
  Home,
  End,
  PageUp,  // lists and help only
  PageDown,
  Backspace,
  Delete,
  ClearField,  // Ctrl+Y
  Enter,
  Cancel,   // Esc, F10
  Help,     // F1
  History,  // Ctrl+Down
};
struct KeyPress {
  DialogKey Key = DialogKey::Character;
  char32_t Char = 0;
};

// What a key led to.
enum class KeyOutcome { Stay, Close, ShowHelp, ShowHistory };
struct KeyResult {
  KeyOutcome Outcome = KeyOutcome::Stay;
  int Closed = -1;  // Close: the item index that closed the dialog, -1 cancel
};

// Handles one key. Tab and Shift+Tab, Up and Down (and Left and Right outside
// an edit field) move between focusable items; Space toggles a check box,
// picks a radio button of its group or presses a button; Enter presses the
// focused button, else the default button; Esc and F10 cancel; a hotkey with
// Alt, or alone outside an edit field, moves to its item and toggles, picks
// or presses it (a label's hotkey moves to the next focusable item).
KeyResult HandleKey(DialogForm& form, const FarDialogItem* items, int count, KeyPress key);

// Replaces the text of edit item `index`, cursor at its end.
void SetFieldText(DialogForm& form, int index, std::string_view text);

// Keeps the cursor of a field `width` cells wide within it.
void ScrollField(FieldText& field, int width);

// Writes the form back into the records: edit texts into Data (at most 511
// bytes and the terminator), states into the Selected of check boxes and
// radio buttons.
void WriteBack(const DialogForm& form, FarDialogItem* items, int count);

// Whether index `closed` is the dialog's default button.
bool IsDefaultButton(const FarDialogItem* items, int count, int closed);

}  // namespace marlit::console
