#include "console/console.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <istream>
#include <limits>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

#include "device/text.h"
#include "engine/signals.h"

namespace obrint::console {
namespace {

constexpr int kBarWidth = 30;
// How often a question looks whether a signal has come.
constexpr auto kSignalPace = std::chrono::milliseconds(20);
constexpr std::string_view kCut = "...";  // ends a line cut to the terminal's width

// The columns a line takes: one per character (every text of the table is in a script of narrow
// letters).
std::size_t Columns(std::string_view text) {
  return Utf8Prefix(text, std::numeric_limits<std::size_t>::max()).second;
}

}  // namespace

std::string ProgressBar(int percent, int width) {
  const auto filled = static_cast<std::size_t>(std::clamp(percent, 0, 100) * width / 100);
  return std::string("[")
      .append(filled, '#')
      .append(static_cast<std::size_t>(width) - filled, '.')
      .append("] ")
      .append(std::to_string(percent))
      .append("%");
}

Console::Console(Io io, bool json, Verbosity verbosity, const SignalWatch& signals)
    : io_(io), json_(json), verbosity_(verbosity), signals_(signals) {}

void Console::Write(std::ostream& stream, std::string_view text) {
  const std::lock_guard lock(mutex_);
  // A message starts on a line of its own, under the progress bar as it stood.
  if (drawnPercent_ >= 0) {
    io_.err << '\n';
    drawnPercent_ = -1;
  }
  if (drawn_.empty()) {
    stream << text << std::flush;
    return;
  }
  const TerminalSize size = Size();
  EraseTable(size);
  io_.err << std::flush;
  stream << text << std::flush;
  DrawTable(size);
}

void Console::Say(std::string_view line) { Print(std::string(line) + '\n'); }

void Console::Print(std::string_view text) {
  if (json_ || verbosity_ == Verbosity::kQuiet) return;
  Write(io_.out, text);
}

void Console::Detail(std::string_view line) {
  if (verbose()) Write(io_.err, std::string(line) + '\n');
}

void Console::Error(std::string_view line) {
  Write(io_.err, "obrint-cli: " + std::string(line) + '\n');
}

void Console::Record(std::string_view line) { io_.err << line << '\n'; }

void Console::Warn(std::string_view line) {
  if (verbosity_ == Verbosity::kQuiet) return;
  Write(io_.err, "obrint-cli: warning: " + std::string(line) + '\n');
}

void Console::Progress(std::uint32_t done, std::uint32_t total) {
  if (json_ || verbosity_ == Verbosity::kQuiet || !io_.errIsTerminal) return;
  const int percent = total == 0 ? 100 : static_cast<int>(std::uint64_t{done} * 100 / total);
  const std::lock_guard lock(mutex_);
  if (percent == drawnPercent_) return;
  drawnPercent_ = percent;
  io_.err << '\r' << ProgressBar(percent, kBarWidth) << ' ' << done << '/' << total << " bytes"
          << std::flush;
}

bool Console::terminal() const {
  return !json_ && verbosity_ != Verbosity::kQuiet && io_.errIsTerminal && io_.errTakesEscapes;
}

void Console::Table(std::vector<std::string> lines) {
  if (!terminal()) return;
  const std::lock_guard lock(mutex_);
  const TerminalSize size = Size();
  EraseTable(size);
  table_ = std::move(lines);
  DrawTable(size);
}

void Console::EraseTable(TerminalSize size) {
  // Each line was drawn on one row; a terminal narrowed since has wrapped it anew, as tmux, the
  // Windows console and most terminals do.
  std::size_t rows = 0;
  for (const std::string& line : drawn_) {
    const std::size_t columns = Columns(line);
    rows += size.columns == 0 || columns <= size.columns
                ? 1
                : (columns + size.columns - 1) / size.columns;
  }
  if (rows == 0) return;
  // Up to the table's first row, each row cleared, and up again. Not cleared to the end of the
  // screen at once: from its top-left corner, tmux would keep the table in its history.
  io_.err << "\r\x1b[" << rows << 'A';
  for (std::size_t row = 0; row < rows; ++row) io_.err << "\x1b[2K\n";
  io_.err << "\x1b[" << rows << 'A';
  drawn_.clear();
}

void Console::DrawTable(TerminalSize size) {
  // Never into the last column: a line that filled it would wrap on some terminals.
  const std::size_t width =
      size.columns > kCut.size() + 1 ? size.columns - 1 : std::numeric_limits<std::size_t>::max();
  std::vector<std::string> shown = table_;
  // The screen keeps a row for the cursor; the first lines and the last (the totals) are shown.
  if (size.rows > 3 && shown.size() >= size.rows) {
    const std::size_t kept = size.rows - 3;
    shown.erase(shown.begin() + static_cast<std::ptrdiff_t>(kept), shown.end() - 1);
    shown.insert(shown.end() - 1, "... and " + std::to_string(table_.size() - kept - 1) +
                                      " lines more: a taller terminal shows them");
  }
  for (std::string& line : shown) {
    if (Columns(line) > width)
      line = line.substr(0, Utf8Prefix(line, width - kCut.size()).first) += kCut;
    io_.err << line << '\n';
  }
  io_.err << std::flush;
  drawn_ = std::move(shown);
}

void Console::EndProgress() {
  const std::lock_guard lock(mutex_);
  table_.clear();
  drawn_.clear();
  if (drawnPercent_ < 0) return;
  io_.err << '\n';
  drawnPercent_ = -1;
}

bool Console::Confirm(std::string_view question) {
  EndProgress();
  Write(io_.err, std::string(question) + " [y/N] ");
  std::optional<std::string> answer = ReadAnswer();
  if (!answer) {
    Write(io_.err, "\n");
    return false;
  }
  // An answer typed on Windows ends in CR LF; the answer is neither.
  while (answer->ends_with('\n') || answer->ends_with('\r')) answer->pop_back();
  return *answer == "y" || *answer == "Y" || *answer == "yes" || *answer == "YES" ||
         *answer == "Yes";
}

std::optional<std::string> Console::ReadAnswer() {
  if (signals_.first()) return std::nullopt;
  // Read on a thread of its own: a read from a terminal goes on through Ctrl+C, the wait does not.
  // Where the signal comes first, the thread is left to the end of the process.
  struct Answer {
    std::mutex mutex;
    std::condition_variable read;
    bool done = false;
    std::optional<std::string> line;
  };
  const auto answer = std::make_shared<Answer>();
  std::thread([answer, &in = io_.in] {
    std::string line;
    const bool got = static_cast<bool>(std::getline(in, line));
    const std::lock_guard lock(answer->mutex);
    if (got) answer->line = std::move(line);
    answer->done = true;
    answer->read.notify_all();
  }).detach();
  std::unique_lock lock(answer->mutex);
  while (!answer->done && !signals_.first()) answer->read.wait_for(lock, kSignalPace);
  // A console ends its read at Ctrl+C a moment before the handler runs.
  for (int i = 0; i < 5 && answer->done && !answer->line && !signals_.first(); ++i) {
    answer->read.wait_for(lock, kSignalPace);
  }
  if (signals_.first()) return std::nullopt;
  return std::move(answer->line);
}

void Console::Json(std::string_view text) { Write(io_.out, std::string(text) + '\n'); }

}  // namespace obrint::console
