#include "cli/console.h"

#include <algorithm>
#include <istream>
#include <ostream>

namespace obrint::cli {
namespace {

constexpr int kBarWidth = 30;

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

Console::Console(Io io, bool json, Verbosity verbosity)
    : io_(io), json_(json), verbosity_(verbosity) {}

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

void Console::Record(std::string_view line) { io_.err << line << '\n'; }

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
  std::string answer;
  if (!std::getline(io_.in, answer)) {
    io_.err << '\n';
    return false;
  }
  answer = std::string(TrimLineEnd(answer));
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

void Console::Json(std::string_view text) { io_.out << text << '\n'; }

}  // namespace obrint::cli
