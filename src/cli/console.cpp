#include "cli/console.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <istream>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

#include "cli/signals.h"

namespace obrint::cli {
namespace {

constexpr int kBarWidth = 30;
// How often a question looks whether a signal has come.
constexpr auto kSignalPace = std::chrono::milliseconds(20);

// An answer typed on Windows ends in CR LF; the answer is neither.
std::string_view TrimLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text;
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

void Console::Say(std::string_view line) {
  if (json_ || verbosity_ == Verbosity::kQuiet) return;
  io_.out << line << '\n';
}

void Console::Print(std::string_view text) {
  if (json_ || verbosity_ == Verbosity::kQuiet) return;
  io_.out << text;
}

void Console::Detail(std::string_view line) {
  if (verbosity_ != Verbosity::kVerbose) return;
  io_.err << line << '\n';
}

void Console::Error(std::string_view line) { io_.err << "obrint-cli: " << line << '\n'; }

void Console::Warn(std::string_view line) {
  if (verbosity_ == Verbosity::kQuiet) return;
  io_.err << "obrint-cli: warning: " << line << '\n';
}

void Console::Progress(std::uint32_t done, std::uint32_t total) {
  if (json_ || verbosity_ == Verbosity::kQuiet || !io_.errIsTerminal) return;
  const int percent = total == 0 ? 100 : static_cast<int>(std::uint64_t{done} * 100 / total);
  if (percent == drawnPercent_) return;
  drawnPercent_ = percent;
  io_.err << '\r' << ProgressBar(percent, kBarWidth) << ' ' << done << '/' << total << " bytes"
          << std::flush;
}

bool Console::terminal() const {
  return !json_ && verbosity_ != Verbosity::kQuiet && io_.errIsTerminal && io_.errTakesEscapes;
}

void Console::ProgressLines(const std::vector<std::string>& lines) {
  if (!terminal()) return;
  // Back up over the lines drawn last time, then draw each anew over its old self.
  if (drawnLines_ > 0) io_.err << "\x1b[" << drawnLines_ << 'A';
  for (const std::string& line : lines) io_.err << "\r\x1b[2K" << line << '\n';
  io_.err << std::flush;
  drawnLines_ = lines.size();
}

void Console::EndProgress() {
  drawnLines_ = 0;
  if (drawnPercent_ < 0) return;
  io_.err << '\n';
  drawnPercent_ = -1;
}

bool Console::Confirm(std::string_view question) {
  EndProgress();
  io_.err << question << " [y/N] " << std::flush;
  const std::optional<std::string> line = ReadAnswer();
  if (!line) {
    io_.err << '\n';
    return false;
  }
  const std::string_view answer = TrimLineEnd(*line);
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
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

void Console::Json(std::string_view text) { io_.out << text << '\n'; }

}  // namespace obrint::cli
