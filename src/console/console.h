// What a command line says and asks: human lines on stdout, errors, the progress bar and the
// live table on stderr, the confirmation read from stdin. The console is the one writer of both
// streams, from any thread: while a table is drawn, every other line goes above it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace obrint::engine {
class SignalWatch;
}

namespace obrint::console {

using engine::SignalWatch;

// "[########............] 40%": a progress bar `width` characters wide, and the percentage.
std::string ProgressBar(int percent, int width);

// A terminal's size in character cells; 0 where it is not known.
struct TerminalSize {
  unsigned columns = 0, rows = 0;
};

// The process's streams, or a test's.
struct Io {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool errIsTerminal = false;           // a progress bar only makes sense on a terminal
  bool errTakesEscapes = true;          // lines redrawn in place (not before Windows 10's console)
  bool inIsTerminal = false;            // a question can be answered
  TerminalSize (*errSize)() = nullptr;  // stderr's terminal, asked at each redraw
};

enum class Verbosity : std::uint8_t { kQuiet, kNormal, kVerbose };

class Console {
 public:
  // A signal ends a question.
  Console(Io io, bool json, Verbosity verbosity, const SignalWatch& signals);

  bool json() const { return json_; }
  // A result line for people: stdout, not with --json or -q.
  void Say(std::string_view line);
  // Text for people or for a program (a table, CSV): stdout as it is, not with --json or -q.
  void Print(std::string_view text);
  // A step of a run: stderr, with -v only.
  void Detail(std::string_view line);
  bool verbose() const { return verbosity_ == Verbosity::kVerbose; }
  // Whether progress lines are drawn: stderr is a terminal that takes escapes, no --json, no -q.
  bool terminal() const;
  // Why a command failed: stderr, always.
  void Error(std::string_view line);
  // A record the log could not take: stderr, as it is, always.
  void Record(std::string_view line);
  // A warning: stderr, unless -q.
  void Warn(std::string_view line);
  // A bar on stderr, redrawn in place, when stderr is a terminal and no --json or -q.
  void Progress(std::uint32_t done, std::uint32_t total);
  // Ends the bar or the table: it stays as it stands, and what follows is written below it.
  void EndProgress();
  // The live table (a header, a row per headset, totals), redrawn in place when terminal(): each
  // line cut to the terminal's width, as many lines as its height holds. Until EndProgress, what
  // else is written goes above it, whole.
  void Table(std::vector<std::string> lines);
  // Asks on stderr, reads a line from stdin: true for y or yes; false at the end of the input,
  // and as soon as a signal comes.
  bool Confirm(std::string_view question);
  // Whether stdin is a terminal that a person answers on.
  bool canAsk() const { return io_.inIsTerminal; }
  // --json: the command's one object.
  void Json(std::string_view text);

 private:
  // The answer's line; nullopt at the end of the input or at a signal.
  std::optional<std::string> ReadAnswer();
  // `text` to `stream`, above the table while one is drawn.
  void Write(std::ostream& stream, std::string_view text);
  // Under the lock: the table drawn last taken off the screen, and drawn anew for `size`.
  void EraseTable(TerminalSize size);
  void DrawTable(TerminalSize size);
  TerminalSize Size() const { return io_.errSize ? io_.errSize() : TerminalSize{}; }

  Io io_;
  bool json_;
  Verbosity verbosity_;
  const SignalWatch& signals_;
  std::mutex mutex_;  // one writer of the streams
  int drawnPercent_ = -1;
  std::vector<std::string> table_;  // the live table's lines while it is drawn
  std::vector<std::string> drawn_;  // as they were drawn last: cut to the width of then
};

}  // namespace obrint::console
