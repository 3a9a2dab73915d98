// What the command line says and asks: human lines on stdout, errors and the progress bar on
// stderr, the confirmation read from stdin; and the headset operations' user interface, which it
// answers without any window.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports.h"

namespace obrint::cli {

// The process's streams, or a test's.
struct Io {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool errIsTerminal = false;  // a progress bar only makes sense on a terminal
};

enum class Verbosity : std::uint8_t { kQuiet, kNormal, kVerbose };

class Console {
 public:
  Console(Io io, bool json, Verbosity verbosity);

  bool json() const { return json_; }
  // A result line for people: stdout, not with --json or -q.
  void Say(std::string_view line);
  // A step or the window's own texts: stderr, with -v only.
  void Detail(std::string_view line);
  // Why a command failed: stderr, unless -q.
  void Error(std::string_view line);
  void Warn(std::string_view line);
  // A bar on stderr, redrawn in place, when stderr is a terminal and no --json or -q.
  void Progress(std::uint32_t done, std::uint32_t total);
  void EndProgress();
  // Asks on stderr, reads a line from stdin: true for y or yes.
  bool Confirm(std::string_view question);
  // --json: the command's one object.
  void Json(std::string_view text);

 private:
  Io io_;
  bool json_;
  Verbosity verbosity_;
  int drawnPercent_ = -1;
};

// The headset operations' user interface without a window: the Status log and message boxes go
// to the console's details, the reboot question to Confirm (or is answered yes with --yes), and
// no file dialog is ever shown (the image comes from the command line).
class ConsoleUserInterface : public UserInterface {
 public:
  ConsoleUserInterface(Console& console, bool assumeYes);

  void ShowStatus(std::string_view text) override;
  int ShowWindowBox(std::string_view body, std::string_view caption, unsigned type) override;
  void SetCaption(std::string_view text) override;
  std::string ChooseImageFile() override { return {}; }

  const std::vector<std::string>& messages() const { return messages_; }  // box captions shown
  bool asked() const { return asked_; }

 private:
  Console& console_;
  bool assumeYes_;
  bool asked_ = false;
  std::vector<std::string> messages_;
};

// The Mode controls as plain state: what the refresh of the run-mode controls left there, and the
// mode a command selects.
class ModeState : public ModeControls {
 public:
  void EnableModeControls(bool enabled) override {
    touched = true;
    enabled_ = enabled;
  }
  void EnableRunModeButton(bool) override {}
  void SetModeChecks(bool dk1Checked, bool dk2Checked) override {
    dk1 = dk1Checked;
    dk2 = dk2Checked;
  }
  bool IsDk1Checked() override { return dk1; }
  bool IsDk2Checked() override { return dk2; }

  bool touched = false;  // false: the headset did not open, nothing was set
  bool enabled() const { return enabled_; }
  bool dk1 = false;
  bool dk2 = false;

 private:
  bool enabled_ = false;
};

}  // namespace obrint::cli
