// The Mode controls for tests: button 1006 and radio buttons 1008 (DK1) and 1007 (DK2).
#pragma once

#include <vector>

#include "core/ports.h"

namespace obrint::fakes {

struct ModeControlState {
  bool buttonEnabled = false;
  bool dk1Enabled = false;
  bool dk2Enabled = false;
  bool dk1Checked = false;
  bool dk2Checked = false;
  bool operator==(const ModeControlState&) const = default;
};

class FakeModeControls : public ModeControls {
 public:
  void EnableModeControls(bool enabled) override {
    state.buttonEnabled = state.dk1Enabled = state.dk2Enabled = enabled;
    Record();
  }
  void EnableRunModeButton(bool enabled) override {
    state.buttonEnabled = enabled;
    Record();
  }
  void SetModeChecks(bool dk1Checked, bool dk2Checked) override {
    state.dk1Checked = dk1Checked;
    state.dk2Checked = dk2Checked;
    Record();
  }
  bool IsDk1Checked() override { return state.dk1Checked; }
  bool IsDk2Checked() override { return state.dk2Checked; }

  ModeControlState state;
  std::vector<ModeControlState> history;  // the state after every change

 private:
  void Record() { history.push_back(state); }
};

}  // namespace obrint::fakes
