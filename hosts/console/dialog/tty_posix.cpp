// Linux (POSIX) screen of the console host: ncurses on /dev/tty stands in for
// the file manager's own dialog window, its help viewer and its input
// history lists. Built as the module marlit-tty.so.
#include <curses.h>
#include <langinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/lang_file.h"
#include "console/dialog/form.h"
#include "console/dialog/help.h"
#include "console/dialog/history.h"
#include "console/dialog/tty.h"

namespace marlit::console {
namespace {

// Key codes of our own for the keys terminfo may not name.
constexpr int kCtrlDownKey = KEY_MAX + 1;
constexpr int kAltDownKey = KEY_MAX + 2;

constexpr int kPollMilliseconds = 200;  // how soon a signal is acted on
constexpr int kAltMilliseconds = 40;    // how long Esc waits for its letter
constexpr int kEscapeDelay = 25;
constexpr size_t kMaxHelpFile = 1 << 20;

struct Terminal {
  std::FILE* Tty = nullptr;
  SCREEN* Screen = nullptr;
  bool Colour = false;
  bool Unicode = false;  // the locale writes UTF-8: box lines and bullets
  bool Up = false;       // the screen is shown and the signals caught
  int CtrlDown = kCtrlDownKey;
  int AltDown = kAltDownKey;
};
Terminal g_terminal;

// Signals that end or stop the program while the screen is up: noted here and
// acted on by the key loop, outside the handler.
constexpr int kCaughtSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGTSTP};
volatile std::sig_atomic_t g_signal = 0;
struct sigaction g_previous[std::size(kCaughtSignals)];

extern "C" void NoteSignal(int signal) { g_signal = signal; }

void CatchSignals() {
  for (size_t i = 0; i < std::size(kCaughtSignals); ++i) {
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: the read returns at once
    sigaction(kCaughtSignals[i], nullptr, &g_previous[i]);
    // A signal the program was started to ignore stays ignored.
    if (g_previous[i].sa_handler != SIG_IGN) sigaction(kCaughtSignals[i], &action, nullptr);
  }
}

void ReleaseSignals() {
  for (size_t i = 0; i < std::size(kCaughtSignals); ++i) {
    sigaction(kCaughtSignals[i], &g_previous[i], nullptr);
  }
}

// The colour pairs, like the file manager's classic dialogs.
enum Pair : short {
  kPairDialog = 1,
  kPairFrame,
  kPairHotkey,
  kPairEdit,
  kPairMarked,
  kPairFocused,
  kPairFocusedHotkey,
  kPairButtonHotkey,
  kPairHelp,
  kPairHelpEmphasis,
  kPairChosen,
};

enum class Look {
  Dialog,
  Frame,
  Hotkey,
  Edit,
  Marked,
  Focused,
  FocusedHotkey,
  ButtonHotkey,
  Help,
  HelpEmphasis,
  Chosen,
  Plain,
};

struct Pen {
  attr_t Attr = A_NORMAL;
  short Pair = 0;
};

bool g_brightByBold = false;  // 8 colours: bright ones are bold

Pen PenFor(Look look) {
  if (!g_terminal.Colour) {
    switch (look) {
      case Look::Hotkey:
      case Look::ButtonHotkey:
      case Look::HelpEmphasis:
        return {A_BOLD | A_UNDERLINE, 0};
      case Look::Edit:
        return {A_UNDERLINE, 0};
      case Look::Marked:
      case Look::Focused:
      case Look::Chosen:
        return {A_REVERSE, 0};
      case Look::FocusedHotkey:
        return {A_REVERSE | A_BOLD | A_UNDERLINE, 0};
      default:
        return {A_NORMAL, 0};
    }
  }
  const attr_t bright = g_brightByBold ? A_BOLD : A_NORMAL;
  switch (look) {
    case Look::Dialog:
      return {A_NORMAL, kPairDialog};
    case Look::Frame:
      return {A_NORMAL, kPairFrame};
    case Look::Hotkey:
      return {bright, kPairHotkey};
    case Look::Edit:
      return {A_NORMAL, kPairEdit};
    case Look::Marked:
      return {bright, kPairMarked};
    case Look::Focused:
      return {A_NORMAL, kPairFocused};
    case Look::FocusedHotkey:
      return {bright, kPairFocusedHotkey};
    case Look::ButtonHotkey:
      return {bright, kPairButtonHotkey};
    case Look::Help:
      return {A_NORMAL, kPairHelp};
    case Look::HelpEmphasis:
      return {bright, kPairHelpEmphasis};
    case Look::Chosen:
      return {bright, kPairChosen};
    case Look::Plain:
      return {A_NORMAL, 0};
  }
  return {};
}

void SetUpColours() {
  const char* noColour = std::getenv("NO_COLOR");
  g_terminal.Colour = (noColour == nullptr || noColour[0] == '\0') && has_colors();
  if (!g_terminal.Colour || start_color() == ERR) {
    g_terminal.Colour = false;
    return;
  }
  // The terminal's own colours around the dialog.
  use_default_colors();
  g_brightByBold = COLORS < 16;
  const auto brightOf = [](short colour) {
    return static_cast<short>(COLORS >= 16 ? colour + 8 : colour);
  };
  // A mid grey where the terminal has one, as on the file manager's console.
  const short grey = COLORS >= 256 ? 250 : COLOR_WHITE;
  init_pair(kPairDialog, COLOR_BLACK, grey);
  init_pair(kPairFrame, COLOR_BLACK, grey);
  init_pair(kPairHotkey, brightOf(COLOR_WHITE), grey);
  init_pair(kPairEdit, COLOR_BLACK, COLOR_CYAN);
  init_pair(kPairMarked, brightOf(COLOR_WHITE), COLOR_BLACK);
  init_pair(kPairFocused, COLOR_BLACK, COLOR_CYAN);
  init_pair(kPairFocusedHotkey, brightOf(COLOR_YELLOW), COLOR_CYAN);
  init_pair(kPairButtonHotkey, brightOf(COLOR_YELLOW), grey);
  init_pair(kPairHelp, COLOR_BLACK, COLOR_CYAN);
  init_pair(kPairHelpEmphasis, brightOf(COLOR_WHITE), COLOR_CYAN);
  init_pair(kPairChosen, brightOf(COLOR_WHITE), COLOR_BLACK);
}

// The screen rectangle drawing is kept within, inclusive.
struct Clip {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
};

Clip WholeScreen() { return {0, 0, COLS - 1, LINES - 1}; }

// The character the terminal is sent for `code`.
wchar_t Shown(char32_t code) {
  if (code >= 0x20 && code < 0x7F) return static_cast<wchar_t>(code);
  if (!g_terminal.Unicode || code < 0xA0 || code > 0x10FFFF) return L'?';
  return wcwidth(static_cast<wchar_t>(code)) >= 1 ? static_cast<wchar_t>(code) : L'?';
}

// Draws one character at (y, x); returns the cells it takes.
int PutCode(const Clip& clip, int y, int x, char32_t code, Pen pen) {
  const wchar_t shown = Shown(code);
  const int cells = shown == L'?' && code != '?' ? 1 : CellWidth(code);
  if (y < clip.Top || y > clip.Bottom || x < clip.Left || x + cells - 1 > clip.Right) return cells;
  wchar_t text[2] = {shown, L'\0'};
  cchar_t cell;
  setcchar(&cell, text, pen.Attr, pen.Pair, nullptr);
  mvadd_wch(y, x, &cell);
  return cells;
}

int PutText(const Clip& clip, int y, int x, std::string_view text, Pen pen) {
  int cells = 0;
  for (const Glyph& g : SplitGlyphs(text)) cells += PutCode(clip, y, x + cells, g.Code, pen);
  return cells;
}

// A caption with its hotkey letter in `hot`.
int PutCaption(const Clip& clip, int y, int x, const HotkeyText& caption, Pen pen, Pen hot) {
  int cells = 0;
  for (size_t i = 0; i < caption.Shown.size(); ++i) {
    const Pen use = static_cast<int>(i) == caption.Hotkey ? hot : pen;
    cells += PutCode(clip, y, x + cells, caption.Shown[i].Code, use);
  }
  return cells;
}

void Fill(const Clip& clip, int y, int x, int count, Pen pen) {
  for (int i = 0; i < count; ++i) PutCode(clip, y, x + i, ' ', pen);
}

// Frame lines: Unicode box drawing where the locale has it, else the
// terminal's line-drawing set (single lines only).
enum class Line {
  Horizontal,
  Vertical,
  TopLeft,
  TopRight,
  BottomLeft,
  BottomRight,
  JoinLeft,
  JoinRight
};

void PutLine(const Clip& clip, int y, int x, Line line, bool twin, Pen pen) {
  if (y < clip.Top || y > clip.Bottom || x < clip.Left || x > clip.Right) return;
  if (g_terminal.Unicode) {
    // Double frame; a separator inside it is single, joined to the double sides.
    static constexpr char32_t kDouble[] = {0x2550, 0x2551, 0x2554, 0x2557,
                                           0x255A, 0x255D, 0x255F, 0x2562};
    static constexpr char32_t kSingle[] = {0x2500, 0x2502, 0x250C, 0x2510,
                                           0x2514, 0x2518, 0x251C, 0x2524};
    PutCode(clip, y, x, (twin ? kDouble : kSingle)[static_cast<int>(line)], pen);
    return;
  }
  chtype shape = 0;
  switch (line) {
    case Line::Horizontal:
      shape = ACS_HLINE;
      break;
    case Line::Vertical:
      shape = ACS_VLINE;
      break;
    case Line::TopLeft:
      shape = ACS_ULCORNER;
      break;
    case Line::TopRight:
      shape = ACS_URCORNER;
      break;
    case Line::BottomLeft:
      shape = ACS_LLCORNER;
      break;
    case Line::BottomRight:
      shape = ACS_LRCORNER;
      break;
    case Line::JoinLeft:
      shape = ACS_LTEE;
      break;
    case Line::JoinRight:
      shape = ACS_RTEE;
      break;
  }
  mvaddch(y, x, shape | pen.Attr | static_cast<chtype>(COLOR_PAIR(pen.Pair)));
}

void PutBox(const Clip& clip, int top, int left, int bottom, int right, bool twin, Pen pen) {
  for (int x = left + 1; x < right; ++x) {
    PutLine(clip, top, x, Line::Horizontal, twin, pen);
    PutLine(clip, bottom, x, Line::Horizontal, twin, pen);
  }
  for (int y = top + 1; y < bottom; ++y) {
    PutLine(clip, y, left, Line::Vertical, twin, pen);
    PutLine(clip, y, right, Line::Vertical, twin, pen);
  }
  PutLine(clip, top, left, Line::TopLeft, twin, pen);
  PutLine(clip, top, right, Line::TopRight, twin, pen);
  PutLine(clip, bottom, left, Line::BottomLeft, twin, pen);
  PutLine(clip, bottom, right, Line::BottomRight, twin, pen);
}

// The down arrow beside a field with a history: the line-drawing set's arrow
// where the locale has no Unicode.
void PutArrow(const Clip& clip, int y, int x, Pen pen) {
  if (g_terminal.Unicode) {
    PutCode(clip, y, x, U'\u2193', pen);
  } else if (y >= clip.Top && y <= clip.Bottom && x >= clip.Left && x <= clip.Right) {
    mvaddch(y, x, ACS_DARROW | pen.Attr | static_cast<chtype>(COLOR_PAIR(pen.Pair)));
  }
}

// A title centred in the top line of a box from `left` to `right`.
void PutTitle(const Clip& clip, int y, int left, int right, const HotkeyText& title, Pen pen) {
  if (title.Shown.empty()) return;
  const int cells = CellWidth(title.Shown) + 2;
  const int x = left + std::max(1, (right - left + 1 - cells) / 2);
  const Clip inside{std::max(clip.Left, left + 1), clip.Top, std::min(clip.Right, right - 1),
                    clip.Bottom};
  PutCode(inside, y, x, ' ', pen);
  const int shown = PutCaption(inside, y, x + 1, title, pen, pen);
  PutCode(inside, y, x + 1 + shown, ' ', pen);
}

std::string_view TextOf(const FarDialogItem& item) {
  return {item.Data, strnlen(item.Data, kDialogTextSize)};
}

// Draws the dialog of `call` at `frame` and puts the cursor on the focus.
void DrawDialog(const DialogCall& call, const DialogForm& form, const DialogFrame& frame) {
  erase();
  const Clip clip{frame.Left, frame.Top, frame.Left + frame.Width - 1,
                  frame.Top + frame.Height - 1};
  const Pen dialog = PenFor(Look::Dialog);
  const Pen frameLook = PenFor(Look::Frame);
  for (int row = 0; row < frame.Height; ++row)
    Fill(clip, frame.Top + row, frame.Left, frame.Width, dialog);
  int cursorY = -1;
  int cursorX = -1;
  for (int i = 0; i < call.Count && static_cast<size_t>(i) < form.Places.size(); ++i) {
    const FarDialogItem& item = call.Items[i];
    const ItemPlace& place = form.Places[i];
    const int y = frame.Top + place.Row;
    const int x = frame.Left + place.Column;
    const bool focused = i == form.Focus;
    // DIF_BOXCOLOR: a label or separator in the frame's colour.
    const bool boxColour = (item.Flags & DIF_BOXCOLOR) != 0;
    switch (place.Kind) {
      case ItemKind::Box: {
        const int right = x + place.Width - 1;
        PutBox(clip, y, x, frame.Top + place.Bottom, right, place.Double, PenFor(Look::Frame));
        PutTitle(clip, y, x, right, ParseHotkeyText(TextOf(item)), PenFor(Look::Frame));
        break;
      }
      case ItemKind::Label:
        PutCaption(clip, y, x, ParseHotkeyText(TextOf(item)), boxColour ? frameLook : dialog,
                   PenFor(Look::Hotkey));
        break;
      case ItemKind::Separator: {
        const int right = x + place.Width - 1;
        const Pen pen = boxColour ? frameLook : dialog;
        for (int column = x; column <= right; ++column) {
          PutLine(clip, y, column, Line::Horizontal, false, pen);
        }
        if (place.JoinsFrame) {
          PutLine(clip, y, x, Line::JoinLeft, place.Double, pen);
          PutLine(clip, y, right, Line::JoinRight, place.Double, pen);
        }
        PutTitle(clip, y, x, right, ParseHotkeyText(TextOf(item)), pen);
        break;
      }
      case ItemKind::Edit: {
        const FieldText& field = form.Fields[i];
        const Pen edit = PenFor(Look::Edit);
        Fill(clip, y, x, place.Width, edit);
        const Clip inside{std::max(clip.Left, x), clip.Top,
                          std::min(clip.Right, x + place.Width - 1), clip.Bottom};
        const Pen text = field.Fresh && !field.Text.empty() ? PenFor(Look::Marked) : edit;
        int cells = 0;
        for (size_t g = field.Scroll; g < field.Text.size() && cells < place.Width; ++g) {
          if (focused && g == field.Cursor) cursorX = x + cells;
          cells += PutCode(inside, y, x + cells, field.Text[g].Code, text);
        }
        if (focused) {
          if (field.Cursor >= field.Text.size()) cursorX = x + std::min(cells, place.Width - 1);
          cursorY = y;
        }
        // The file manager marks a field that keeps a history with an arrow
        // just past its right end, in the dialog's colours.
        if ((item.Flags & DIF_HISTORY) != 0 && item.History != nullptr) {
          PutArrow(clip, y, x + place.Width, dialog);
        }
        break;
      }
      case ItemKind::CheckBox:
      case ItemKind::RadioButton: {
        const bool check = place.Kind == ItemKind::CheckBox;
        const bool on = form.States[i] != 0;
        const char32_t mark = on ? (check ? U'x' : (g_terminal.Unicode ? U'\u2022' : U'*')) : U' ';
        PutCode(clip, y, x, check ? '[' : '(', dialog);
        PutCode(clip, y, x + 1, mark, dialog);
        PutCode(clip, y, x + 2, check ? ']' : ')', dialog);
        PutCode(clip, y, x + 3, ' ', dialog);
        const Pen pen = PenFor(focused ? Look::Focused : Look::Dialog);
        const Pen hot = PenFor(focused ? Look::FocusedHotkey : Look::Hotkey);
        PutCaption(clip, y, x + 4, ParseHotkeyText(TextOf(item)), pen, hot);
        if (focused) {
          cursorY = y;
          cursorX = x + 1;
        }
        break;
      }
      case ItemKind::Button: {
        const Pen pen = PenFor(focused ? Look::Focused : Look::Dialog);
        const Pen hot = PenFor(focused ? Look::FocusedHotkey : Look::ButtonHotkey);
        // The default button is braced, wherever the focus is, as the file
        // manager draws it: Enter presses it from any item but a button.
        const bool braced = item.DefaultButton != 0;
        PutCode(clip, y, x, braced ? '{' : '[', pen);
        PutCode(clip, y, x + 1, ' ', pen);
        const int cells = PutCaption(clip, y, x + 2, ParseHotkeyText(TextOf(item)), pen, hot);
        PutCode(clip, y, x + 2 + cells, ' ', pen);
        PutCode(clip, y, x + 3 + cells, braced ? '}' : ']', pen);
        if (focused) {
          cursorY = y;
          cursorX = x + 2;
        }
        break;
      }
      case ItemKind::Ignored:
        break;
    }
  }
  if (cursorY >= 0 && cursorX >= 0) {
    move(cursorY, cursorX);
    curs_set(1);
  } else {
    curs_set(0);
  }
}

void DrawTooSmall(const DialogCall& call, const DialogFrame& frame) {
  erase();
  curs_set(0);
  const int needColumns = call.X1 < 0 ? frame.Width : frame.Left + frame.Width;
  const int needLines = call.Y1 < 0 ? frame.Height : frame.Top + frame.Height;
  const std::string first =
      "terminal too small: need " + std::to_string(needColumns) + "x" + std::to_string(needLines);
  const std::string second =
      "(now " + std::to_string(COLS) + "x" + std::to_string(LINES) + "; Esc cancels)";
  PutText(WholeScreen(), 0, 0, first, Pen{A_BOLD, 0});
  PutText(WholeScreen(), 1, 0, second, PenFor(Look::Plain));
}

bool Fits(const DialogFrame& frame) {
  return frame.Left >= 0 && frame.Top >= 0 && frame.Left + frame.Width <= COLS &&
         frame.Top + frame.Height <= LINES;
}

// One thing read from the keyboard.
struct Input {
  enum Kind { Nothing, Key, Resize, Redraw } What = Nothing;
  KeyPress Press;
};

Input KeyInput(DialogKey key, char32_t c = 0) { return {Input::Key, KeyPress{key, c}}; }

Input FromKeyCode(wint_t code) {
  const int key = static_cast<int>(code);
  if (key == g_terminal.CtrlDown || key == g_terminal.AltDown) return KeyInput(DialogKey::History);
  switch (key) {
    case KEY_RESIZE:
      return {Input::Resize, {}};
    case KEY_UP:
      return KeyInput(DialogKey::Up);
    case KEY_DOWN:
      return KeyInput(DialogKey::Down);
    case KEY_LEFT:
      return KeyInput(DialogKey::Left);
    case KEY_RIGHT:
      return KeyInput(DialogKey::Right);
    case KEY_HOME:
      return KeyInput(DialogKey::Home);
    case KEY_END:
      return KeyInput(DialogKey::End);
    case KEY_PPAGE:
      return KeyInput(DialogKey::PageUp);
    case KEY_NPAGE:
      return KeyInput(DialogKey::PageDown);
    case KEY_BTAB:
      return KeyInput(DialogKey::BackTab);
    case KEY_BACKSPACE:
      return KeyInput(DialogKey::Backspace);
    case KEY_DC:
      return KeyInput(DialogKey::Delete);
    case KEY_ENTER:
      return KeyInput(DialogKey::Enter);
    case KEY_F(1):
      return KeyInput(DialogKey::Help);
    case KEY_F(10):
      return KeyInput(DialogKey::Cancel);
    default:
      return {};
  }
}

Input ReadInput() {
  wint_t c = 0;
  const int got = wget_wch(stdscr, &c);
  if (got == ERR) return {};
  if (got == KEY_CODE_YES) return FromKeyCode(c);
  switch (c) {
    case 27: {
      // Esc alone cancels; Esc and a character at once is Alt with it.
      wtimeout(stdscr, kAltMilliseconds);
      wint_t next = 0;
      const int more = wget_wch(stdscr, &next);
      wtimeout(stdscr, kPollMilliseconds);
      if (more == OK && next >= 0x20 && next != 0x7F) {
        return KeyInput(DialogKey::Alt, static_cast<char32_t>(next));
      }
      if (more == KEY_CODE_YES && next == KEY_DOWN) return KeyInput(DialogKey::History);
      return KeyInput(DialogKey::Cancel);
    }
    case '\t':
      return KeyInput(DialogKey::Tab);
    case '\r':
    case '\n':
      return KeyInput(DialogKey::Enter);
    case 8:
    case 127:
      return KeyInput(DialogKey::Backspace);
    case 25:  // Ctrl+Y
      return KeyInput(DialogKey::ClearField);
    case 12:  // Ctrl+L
      return {Input::Redraw, {}};
    default:
      if (c < 0x20) return {};
      return KeyInput(DialogKey::Character, static_cast<char32_t>(c));
  }
}

// Shows the screen and catches the signals that would leave the terminal in
// the screen's modes; a screen kept up between two dialogs stays as it is.
void EnterScreen() {
  if (g_terminal.Up) return;
  CatchSignals();
  g_terminal.Up = true;
  clearok(curscr, TRUE);
}

// Leaves the screen, so that the terminal is as the shell had it.
void LeaveScreen() {
  if (!g_terminal.Up) return;
  curs_set(1);
  endwin();
  ReleaseSignals();
  g_terminal.Up = false;
}

// Acts on a signal noted while the screen was up: stops (and comes back to a
// redrawn screen) or gives the terminal back and ends as the signal says.
void ActOnSignal() {
  const int signal = g_signal;
  if (signal == 0) return;
  g_signal = 0;
  LeaveScreen();
  if (signal == SIGTSTP) {
    std::raise(SIGTSTP);  // stopped here, as the shell expects, until continued
    EnterScreen();
    return;
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  std::_Exit(128 + signal);
}

std::string ReadHelpFile(const char* path) {
  std::string text;
  if (path == nullptr || path[0] == '\0') return text;
  std::ifstream in(path, std::ios::binary);
  char block[4096];
  while (in && text.size() <= kMaxHelpFile) {
    in.read(block, sizeof block);
    text.append(block, static_cast<size_t>(in.gcount()));
  }
  if (text.size() > kMaxHelpFile) text.resize(kMaxHelpFile);
  return text;
}

// The help window: the topic of the call, scrolled with the arrows and the
// page keys, closed with Esc, F10, Enter or F1.
void ShowHelp(const DialogCall& call, const DialogForm& form) {
  std::string text = ReadHelpFile(call.HelpFile);
  if (call.HelpInCp866) text = Cp866ToUtf8(text);
  const char* name =
      call.HelpTopic != nullptr && call.HelpTopic[0] != '\0' ? call.HelpTopic : "Contents";
  HelpTopic topic = ExtractHelpTopic(text, name);
  if (!topic.Found) {
    topic.Title = "Help";
    // A file that cannot be read is the trouble then, not the topic.
    const bool readable = call.HelpFile[0] != '\0' && access(call.HelpFile, R_OK) == 0;
    const std::string why =
        readable ? std::string(" There is no help topic \"") + name + "\" in " + call.HelpFile
        : call.HelpFile[0] != '\0' ? std::string(" Cannot read the help file ") + call.HelpFile +
                                         ": " + std::strerror(errno)
                                   : std::string(" There is no help file");
    topic.Lines = {StripHelpMarkup(why + ".")};
  }
  int top = 0;
  while (true) {
    const DialogFrame frame = PlaceDialog(call.X1, call.Y1, call.X2, call.Y2, COLS, LINES);
    if (Fits(frame)) DrawDialog(call, form, frame);
    const int width = COLS >= 24 ? std::min(COLS - 2, 78) : COLS;
    const int height = LINES >= 7 ? LINES - 2 : LINES;
    const int left = (COLS - width) / 2;
    const int upper = (LINES - height) / 2;
    const int inner = std::max(1, width - 4);
    const int rows = std::max(1, height - 2);
    std::vector<HelpLine> lines;
    for (const HelpLine& line : topic.Lines) {
      for (HelpLine& piece : WrapHelpLine(line, inner)) lines.push_back(std::move(piece));
    }
    const int last = std::max(0, static_cast<int>(lines.size()) - rows);
    top = std::clamp(top, 0, last);
    const Clip clip{left, upper, left + width - 1, upper + height - 1};
    const Pen pen = PenFor(Look::Help);
    const Pen emphasis = PenFor(Look::HelpEmphasis);
    for (int row = 0; row < height; ++row) Fill(clip, upper + row, left, width, pen);
    PutBox(clip, upper, left, upper + height - 1, left + width - 1, true, pen);
    PutTitle(clip, upper, left, left + width - 1, HotkeyText{SplitGlyphs(topic.Title), -1}, pen);
    const Clip inside{left + 2, upper + 1, left + width - 3, upper + height - 2};
    for (int row = 0; row < rows && top + row < static_cast<int>(lines.size()); ++row) {
      const HelpLine& line = lines[static_cast<size_t>(top + row)];
      int x = left + 2;
      if (line.Centred) x += std::max(0, (inner - CellWidth(SplitGlyphs(line.Text))) / 2);
      size_t offset = 0;
      for (const Glyph& g : SplitGlyphs(line.Text)) {
        const bool emphasised = offset < line.Emphasis.size() && line.Emphasis[offset];
        x += PutCode(inside, upper + 1 + row, x, g.Code, emphasised ? emphasis : pen);
        offset += g.Bytes.size();
      }
    }
    if (last > 0) {
      const std::string where = " " + std::to_string(top * 100 / last) + "% ";
      PutText(clip, upper + height - 1, left + width - 3 - static_cast<int>(where.size()), where,
              pen);
    }
    curs_set(0);
    refresh();
    const Input in = ReadInput();
    ActOnSignal();
    if (in.What == Input::Redraw) clearok(curscr, TRUE);
    if (in.What != Input::Key) continue;
    switch (in.Press.Key) {
      case DialogKey::Up:
        --top;
        break;
      case DialogKey::Down:
        ++top;
        break;
      case DialogKey::PageUp:
        top -= rows;
        break;
      case DialogKey::PageDown:
        top += rows;
        break;
      case DialogKey::Home:
        top = 0;
        break;
      case DialogKey::End:
        top = last;
        break;
      case DialogKey::Character:
        if (in.Press.Char == ' ') top += rows;
        break;
      case DialogKey::Cancel:
      case DialogKey::Enter:
      case DialogKey::Help:
        return;
      default:
        break;
    }
  }
}

// The input history of the focused field, in a list under it; Enter puts the
// chosen entry into the field.
void ShowHistory(const DialogCall& call, DialogForm& form) {
  const int index = form.Focus;
  const char* named = call.Items[index].History;
  if (named == nullptr) return;
  const std::string name(named, strnlen(named, kHistoryNameBytes + 1));
  const HistoryStore store = LoadHistory(call.HistoryFile);
  const std::vector<std::string>* entries = FindHistory(store, name);
  if (entries == nullptr || entries->empty()) {
    beep();
    return;
  }
  const int count = static_cast<int>(entries->size());
  int chosen = 0;
  int top = 0;
  while (true) {
    const DialogFrame frame = PlaceDialog(call.X1, call.Y1, call.X2, call.Y2, COLS, LINES);
    if (!Fits(frame)) return;
    DrawDialog(call, form, frame);
    const ItemPlace& place = form.Places[index];
    const int fieldY = frame.Top + place.Row;
    const int left = frame.Left + place.Column - 1;
    const int width = place.Width + 2;
    const int below = LINES - fieldY - 1;
    const int above = fieldY;
    const bool down = below >= std::min(count + 2, 5) || below >= above;
    const int room = std::max(3, down ? below : above);
    const int height = std::min(count + 2, room);
    const int upper = down ? fieldY + 1 : fieldY - height;
    const int rows = std::max(1, height - 2);
    chosen = std::clamp(chosen, 0, count - 1);
    if (chosen < top) top = chosen;
    if (chosen >= top + rows) top = chosen - rows + 1;
    const Clip clip{std::max(0, left), std::max(0, upper), std::min(COLS - 1, left + width - 1),
                    std::min(LINES - 1, upper + height - 1)};
    const Pen pen = PenFor(Look::Dialog);
    for (int row = 0; row < height; ++row) Fill(clip, upper + row, left, width, pen);
    PutBox(clip, upper, left, upper + height - 1, left + width - 1, false, pen);
    const Clip inside{left + 1, upper + 1, left + width - 2, upper + height - 2};
    for (int row = 0; row < rows && top + row < count; ++row) {
      const int at = top + row;
      const Pen look = at == chosen ? PenFor(Look::Chosen) : pen;
      Fill(inside, upper + 1 + row, left + 1, width - 2, look);
      PutText(inside, upper + 1 + row, left + 1, (*entries)[static_cast<size_t>(at)], look);
    }
    curs_set(0);
    refresh();
    const Input in = ReadInput();
    ActOnSignal();
    if (in.What == Input::Redraw) clearok(curscr, TRUE);
    if (in.What != Input::Key) continue;
    switch (in.Press.Key) {
      case DialogKey::Up:
        chosen = chosen > 0 ? chosen - 1 : count - 1;
        break;
      case DialogKey::Down:
        chosen = chosen + 1 < count ? chosen + 1 : 0;
        break;
      case DialogKey::PageUp:
        chosen -= rows;
        break;
      case DialogKey::PageDown:
        chosen += rows;
        break;
      case DialogKey::Home:
        chosen = 0;
        break;
      case DialogKey::End:
        chosen = count - 1;
        break;
      case DialogKey::Enter:
        SetFieldText(form, index, (*entries)[static_cast<size_t>(chosen)]);
        return;
      case DialogKey::Cancel:
      case DialogKey::History:
        return;
      default:
        break;
    }
  }
}

// Adds the texts of the history fields to their histories.
void RememberFields(const DialogCall& call, const DialogForm& form) {
  if (call.HistoryFile == nullptr || call.HistoryFile[0] == '\0') return;
  HistoryStore store = LoadHistory(call.HistoryFile);
  bool added = false;
  for (int i = 0; i < call.Count && static_cast<size_t>(i) < form.Places.size(); ++i) {
    const FarDialogItem& item = call.Items[i];
    if (form.Places[i].Kind != ItemKind::Edit || (item.Flags & DIF_HISTORY) == 0) continue;
    if (item.History == nullptr) continue;
    const std::string name(item.History, strnlen(item.History, kHistoryNameBytes + 1));
    AddToHistory(store, name, JoinGlyphs(form.Fields[i].Text));
    added = true;
  }
  std::string error;
  if (added && !SaveHistory(call.HistoryFile, store, error)) {
    std::fprintf(stderr, "marlit: warning: %s\n", error.c_str());
  }
}

// Runs the dialog of `call` on the screen until a key closes it; the form
// holds what the person did.
int RunDialog(const DialogCall& call, DialogForm& form) {
  EnterScreen();
  wtimeout(stdscr, kPollMilliseconds);
  const DialogFrame opened = PlaceDialog(call.X1, call.Y1, call.X2, call.Y2, COLS, LINES);
  form = OpenForm(call.Items, call.Count, opened.Width);
  while (true) {
    const DialogFrame frame = PlaceDialog(call.X1, call.Y1, call.X2, call.Y2, COLS, LINES);
    const bool fits = Fits(frame);
    if (fits) {
      DrawDialog(call, form, frame);
    } else {
      DrawTooSmall(call, frame);
    }
    refresh();
    const Input in = ReadInput();
    ActOnSignal();
    if (in.What == Input::Redraw) clearok(curscr, TRUE);
    if (in.What != Input::Key) continue;
    if (!fits) {
      if (in.Press.Key == DialogKey::Cancel) return -1;
      continue;
    }
    const KeyResult result = HandleKey(form, call.Items, call.Count, in.Press);
    if (result.Outcome == KeyOutcome::ShowHelp) ShowHelp(call, form);
    if (result.Outcome == KeyOutcome::ShowHistory) ShowHistory(call, form);
    if (result.Outcome == KeyOutcome::Close) return result.Closed;
  }
}

}  // namespace

bool StartTerminalDialog(std::string& error) {
  if (g_terminal.Screen != nullptr) return true;
  // Wide characters need the locale's character set; a locale that is not
  // there falls back to UTF-8 rather than to ASCII.
  if (std::setlocale(LC_CTYPE, "") == nullptr) std::setlocale(LC_CTYPE, "C.UTF-8");
  g_terminal.Unicode = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  g_terminal.Tty = std::fopen("/dev/tty", "r+e");
  if (g_terminal.Tty == nullptr) {
    error =
        std::string("-i needs a terminal, and /dev/tty cannot be opened: ") + std::strerror(errno);
    return false;
  }
  // ncurses sets up its own signal handling here; the program's stays as it
  // was, and the dialog catches what it needs while it is shown.
  struct sigaction before[std::size(kCaughtSignals)];
  for (size_t i = 0; i < std::size(kCaughtSignals); ++i) {
    sigaction(kCaughtSignals[i], nullptr, &before[i]);
  }
  g_terminal.Screen = newterm(nullptr, g_terminal.Tty, g_terminal.Tty);
  for (size_t i = 0; i < std::size(kCaughtSignals); ++i) {
    sigaction(kCaughtSignals[i], &before[i], nullptr);
  }
  if (g_terminal.Screen == nullptr) {
    const char* type = std::getenv("TERM");
    error = std::string("-i cannot use the terminal type '") + (type != nullptr ? type : "") + "'";
    std::fclose(g_terminal.Tty);
    g_terminal.Tty = nullptr;
    return false;
  }
  set_term(g_terminal.Screen);
  set_escdelay(kEscapeDelay);
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  SetUpColours();
  g_terminal.CtrlDown = key_defined("\033[1;5B");
  if (g_terminal.CtrlDown <= 0) {
    define_key("\033[1;5B", kCtrlDownKey);
    g_terminal.CtrlDown = kCtrlDownKey;
  }
  g_terminal.AltDown = key_defined("\033[1;3B");
  if (g_terminal.AltDown <= 0) {
    define_key("\033[1;3B", kAltDownKey);
    g_terminal.AltDown = kAltDownKey;
  }
  endwin();
  return true;
}

void StopTerminalDialog() {
  LeaveScreen();
  if (g_terminal.Screen != nullptr) {
    if (!isendwin()) endwin();
    delscreen(g_terminal.Screen);
    g_terminal.Screen = nullptr;
  }
  if (g_terminal.Tty != nullptr) {
    std::fclose(g_terminal.Tty);
    g_terminal.Tty = nullptr;
  }
}

int AnswerOnTerminal(const ConsoleOptions& options, const DialogCall& call) {
  const int answered = PrepareScreenRound(options, call);
  if (answered >= 0) return answered;
  if (g_terminal.Screen == nullptr || call.Items == nullptr || call.Count <= 0) return -1;
  DialogForm form;
  const int closed = RunDialog(call, form);
  if (closed >= 0) WriteBack(form, call.Items, call.Count);
  // The plug-in's reset shows the dialog again at once: the screen stays up
  // in between, rather than flashing the shell's screen.
  if (call.Count == kSelectionDialogItems && closed == kResetButton) return closed;
  LeaveScreen();
  if (IsDefaultButton(call.Items, call.Count, closed)) RememberFields(call, form);
  return closed;
}

}  // namespace marlit::console

extern "C" __attribute__((visibility("default"))) bool MarlitTerminalDialog(
    marlit::console::TerminalDialogEntries* entries, size_t size) {
  if (entries == nullptr || size != sizeof *entries) return false;
  entries->Start = marlit::console::StartTerminalDialog;
  entries->Stop = marlit::console::StopTerminalDialog;
  entries->Answer = marlit::console::AnswerOnTerminal;
  return true;
}
