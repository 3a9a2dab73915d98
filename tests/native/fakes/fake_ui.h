// The user's side of the headset operations for tests: what was shown, and scripted answers.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports.h"

namespace obrint::fakes {

struct Box {
  std::string body;
  std::string caption;
  unsigned type;
  bool operator==(const Box&) const = default;
};

class FakeUserInterface : public UserInterface {
 public:
  void ShowStatus(std::string_view text) override {
    status = std::string(text);
    statusHistory.push_back(status);
  }
  int ShowWindowBox(std::string_view body, std::string_view caption, unsigned type) override {
    boxes.push_back({std::string(body), std::string(caption), type});
    if (onBox) onBox(boxes.back());
    return type == kBoxYesNo ? yesNoAnswer : kAnswerOk;
  }
  void SetCaption(std::string_view text) override { caption = std::string(text); }
  std::string ChooseImageFile() override {
    ++dialogs;
    if (choices.empty()) return {};
    std::string chosen = choices.front();
    choices.pop_front();
    return chosen;
  }

  std::string status;  // the Status log's whole text
  std::vector<std::string> statusHistory;
  std::vector<Box> boxes;
  std::string caption = "Obrint";
  std::deque<std::string> choices;  // what the open-file dialog gives, in turn; then cancel
  int dialogs = 0;
  int yesNoAnswer = kAnswerYes;
  std::function<void(const Box&)> onBox;  // runs while a box is up, as a nested modal loop would
};

}  // namespace obrint::fakes
