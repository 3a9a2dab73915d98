// The window's side and the files for the headset commands' tests: what was shown, scripted
// answers, and in-memory files with failures to order and a count of the open ones.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "presenters/window.h"

namespace obrint::fakes {

using namespace presenters;

struct Box {
  std::string body, caption;
  unsigned type = kBoxOk;
  bool operator==(const Box&) const = default;
};

class FakeUserInterface : public UserInterface {
 public:
  void ShowStatus(std::string_view text) override { status.emplace_back(text); }
  int ShowWindowBox(std::string_view body, std::string_view caption, unsigned type) override {
    boxes.push_back({std::string(body), std::string(caption), type});
    if (onBox) onBox(boxes.back());
    return type == kBoxYesNo ? yesNoAnswer : kAnswerOk;
  }
  void SetCaption(std::string_view text) override { caption = std::string(text); }
  std::string ChooseImageFile() override {
    std::string chosen = choices.empty() ? "" : choices.front();
    if (++dialogs, !choices.empty()) choices.pop_front();
    return chosen;
  }

  std::vector<std::string> status;  // every text the Status log was given
  std::vector<Box> boxes;
  std::string caption = "Obrint";
  std::deque<std::string> choices;  // the open-file dialog's answers in turn; then cancel
  int dialogs = 0;
  int yesNoAnswer = kAnswerYes;
  std::function<void(const Box&)> onBox;  // runs while a box is up
};

// Button 1006, radio buttons 1008 (DK1) and 1007 (DK2).
struct ModeState {
  bool button = false, dk1Enabled = false, dk2Enabled = false, dk1 = false, dk2 = false;
  bool operator==(const ModeState&) const = default;
};

class FakeModeControls : public ModeControls {
 public:
  void EnableModeControls(bool on) override { Change({on, on, on, state.dk1, state.dk2}); }
  void EnableRunModeButton(bool on) override {
    Change({on, state.dk1Enabled, state.dk2Enabled, state.dk1, state.dk2});
  }
  void SetModeChecks(bool dk1, bool dk2) override {
    Change({state.button, state.dk1Enabled, state.dk2Enabled, dk1, dk2});
  }
  void Change(const ModeState& to) { history.push_back(state = to); }
  bool IsDk1Checked() override { return state.dk1; }
  bool IsDk2Checked() override { return state.dk2; }

  ModeState state;
  std::vector<ModeState> history;  // the state after every change
};

struct FakeFile {
  std::vector<std::uint8_t> bytes;
  bool readOnly = false, locked = false, failSize = false, failRewind = false, failWrite = false;
  int failReadNumber = 0;  // the Nth Read on a handle fails (1-based; 0: none)
};

class FakeFileSystem : public FileSystem {
 public:
  FakeFile& Add(const std::string& path, std::vector<std::uint8_t> bytes) {
    return files_[path] = FakeFile{std::move(bytes)};
  }
  std::unique_ptr<ImageFile> OpenForReading(const std::string& p) override { return Open(p, 0); }
  std::unique_ptr<ImageFile> OpenForUpdate(const std::string& p) override { return Open(p, 1); }
  std::unique_ptr<std::uint8_t[]> AllocateBuffer(std::uint32_t size) override {
    return failAllocation ? nullptr : FileSystem::AllocateBuffer(size);
  }
  int openHandles() const { return *open_; }

  bool failAllocation = false;

 private:
  class Handle : public ImageFile {
   public:
    Handle(FakeFile& file, bool writable, std::shared_ptr<int> open)
        : file_(file), writable_(writable), open_(std::move(open)) {
      ++*open_;
    }
    ~Handle() override { --*open_; }
    std::optional<std::uint32_t> Size() override {
      if (file_.failSize) return std::nullopt;
      return static_cast<std::uint32_t>(file_.bytes.size());
    }
    bool Read(std::uint8_t* dst, std::uint32_t count) override {
      if (++reads_ == file_.failReadNumber || at_ + count > file_.bytes.size()) return false;
      std::copy_n(file_.bytes.begin() + static_cast<std::ptrdiff_t>(at_), count, dst);
      at_ += count;
      return true;
    }
    bool Rewind() override {
      at_ = file_.failRewind ? at_ : 0;
      return !file_.failRewind;
    }
    bool Write(const std::uint8_t* src, std::uint32_t count) override {
      if (!writable_ || file_.failWrite) return false;
      file_.bytes.resize(std::max(file_.bytes.size(), at_ + count));
      std::copy_n(src, count, file_.bytes.begin() + static_cast<std::ptrdiff_t>(at_));
      at_ += count;
      return true;
    }

   private:
    FakeFile& file_;
    bool writable_;
    std::shared_ptr<int> open_;
    std::size_t at_ = 0;
    int reads_ = 0;
  };

  std::unique_ptr<ImageFile> Open(const std::string& path, bool writable) {
    const auto it = files_.find(path);
    if (it == files_.end() || it->second.locked || (writable && it->second.readOnly))
      return nullptr;
    return std::make_unique<Handle>(it->second, writable, open_);
  }

  std::map<std::string, FakeFile> files_;
  std::shared_ptr<int> open_ = std::make_shared<int>(0);
};

}  // namespace obrint::fakes
