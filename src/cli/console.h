// What the command line says and asks: human lines on stdout, errors and the progress bar on
// stderr, the confirmation read from stdin.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace obrint::cli {

// "[########............] 40%": a progress bar `width` characters wide, and the percentage.
std::string ProgressBar(int percent, int width);

// The process's streams, or a test's.
struct Io {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool errIsTerminal = false;  // a progress bar only makes sense on a terminal
  // The terminal moves the cursor on escape sequences, so that several progress lines can be
  // redrawn in place (a Windows console before Windows 10 does not).
  bool errTakesEscapes = true;
  bool inIsTerminal = false;  // a question can be answered
};

enum class Verbosity : std::uint8_t { kQuiet, kNormal, kVerbose };

class Console {
 public:
  Console(Io io, bool json, Verbosity verbosity);

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
  void EndProgress();
  // Several progress lines (one per headset), redrawn in place under the same conditions.
  void ProgressLines(const std::vector<std::string>& lines);
  // Asks on stderr, reads a line from stdin: true for y or yes.
  bool Confirm(std::string_view question);
  // Whether stdin is a terminal that a person answers on.
  bool canAsk() const { return io_.inIsTerminal; }
  // --json: the command's one object.
  void Json(std::string_view text);

 private:
  Io io_;
  bool json_;
  Verbosity verbosity_;
  int drawnPercent_ = -1;
  std::size_t drawnLines_ = 0;
};

}  // namespace obrint::cli
