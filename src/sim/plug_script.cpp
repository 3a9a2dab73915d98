#include "sim/plug_script.h"

#include <algorithm>
#include <charconv>

namespace obrint::sim {
namespace {

// How often a wait looks again at the script's clock.
constexpr auto kPace = std::chrono::milliseconds(20);

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  while (!line.empty()) {
    const std::size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string_view::npos) break;
    line.remove_prefix(start);
    const std::size_t end = std::min(line.find_first_of(" \t\r"), line.size());
    words.push_back(line.substr(0, end));
    line.remove_prefix(end);
  }
  return words;
}

template <typename T>
bool Number(std::string_view text, T& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc{} && end == text.data() + text.size();
}

std::optional<PlugStep> ParseStep(const std::vector<std::string_view>& words, std::size_t members) {
  PlugStep step;
  std::size_t member = 0;
  if (words.size() < 3 || words.size() > 4 || !Number(words[0], step.atMs) ||
      !Number(words[2], member) || member == 0 || member > members) {
    return std::nullopt;
  }
  step.member = member - 1;
  step.plug = words[1] == "plug";
  if (!step.plug && (words[1] != "unplug" || words.size() == 4)) return std::nullopt;
  if (words.size() == 4) {
    if (words[3] != "boot" && words[3] != "application") return std::nullopt;
    step.firmware = words[3] == "boot" ? Firmware::kBoot : Firmware::kApplication;
  }
  return step;
}

}  // namespace

std::optional<std::vector<PlugStep>> ParsePlugScript(std::string_view text, std::size_t members,
                                                     std::string& problem) {
  std::vector<PlugStep> steps;
  for (std::size_t number = 1; !text.empty(); ++number) {
    const std::size_t newline = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(std::min(newline + 1, text.size()));
    line = line.substr(0, line.find('#'));
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) continue;
    const std::optional<PlugStep> step = ParseStep(words, members);
    if (!step) {
      problem = "line " + std::to_string(number) + ": not \"MS plug N [boot]\" or \"MS unplug N\"" +
                " with N from 1 to " + std::to_string(members) + ": " + std::string(line);
      return std::nullopt;
    }
    steps.push_back(*step);
  }
  std::stable_sort(steps.begin(), steps.end(),
                   [](const PlugStep& a, const PlugStep& b) { return a.atMs < b.atMs; });
  return steps;
}

std::vector<PlugStep> PlugInTurn(std::size_t members, unsigned gapMs) {
  std::vector<PlugStep> steps;
  for (std::size_t i = 0; i < members; ++i) steps.push_back({i * gapMs, true, i, std::nullopt});
  return steps;
}

PlugWatch::PlugWatch(std::shared_ptr<VirtualFleet> fleet, std::vector<PlugStep> steps,
                     bool realTime)
    : fleet_(std::move(fleet)), steps_(std::move(steps)), realTime_(realTime) {
  // On the bus at the start: the members whose first step unplugs them.
  std::vector<bool> there(fleet_->size(), steps_.empty());
  std::vector<bool> seen(fleet_->size());
  for (const PlugStep& step : steps_) {
    if (!seen[step.member]) there[step.member] = !step.plug;
    seen[step.member] = true;
  }
  for (std::size_t member = 0; member < there.size(); ++member) {
    if (!there[member]) fleet_->Unplug(member);
  }
  fleet_->TellChanges();
  if (!realTime_ && !steps_.empty()) fleet_->HoldTime(steps_.front().atMs);
}

PlugWatch::~PlugWatch() { fleet_->HoldTime(std::nullopt); }

bool PlugWatch::Due(const PlugStep& step) const {
  if (!realTime_) return fleet_->Reached(step.atMs);
  return std::chrono::steady_clock::now() >= start_ + std::chrono::milliseconds(step.atMs);
}

void PlugWatch::Play(const PlugStep& step) {
  if (step.plug) {
    fleet_->Plug(step.member, step.atMs, step.firmware);
  } else {
    fleet_->Unplug(step.member);
  }
  if (realTime_) return;
  fleet_->HoldTime(next_ < steps_.size() ? std::optional(steps_[next_].atMs) : std::nullopt);
}

std::optional<BusChange> PlugWatch::Next(unsigned timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (std::optional<BusChange> change = fleet_->NextChange(std::chrono::milliseconds(0))) {
      return change;
    }
    if (next_ < steps_.size() && Due(steps_[next_])) {
      Play(steps_[next_++]);
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return std::nullopt;
    const auto wait =
        std::min(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                     std::chrono::milliseconds(1),
                 std::chrono::duration_cast<std::chrono::milliseconds>(kPace));
    if (std::optional<BusChange> change = fleet_->NextChange(wait)) return change;
  }
}

}  // namespace obrint::sim
