#include "hiddouble/sim_store.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace obrint::hiddouble {
namespace {

constexpr std::uint16_t kBootPid = 0x0001;

// One simulated headset per Wine prefix: one lock for every process that touches it. A lock left
// behind by a process that ended counts as free.
class StateLock {
 public:
  StateLock() : mutex_(::CreateMutexW(nullptr, FALSE, L"Local\\obrint-hiddouble-state")) {
    const DWORD wait = mutex_ ? ::WaitForSingleObject(mutex_, INFINITE) : WAIT_FAILED;
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  ~StateLock() {
    if (held_) ::ReleaseMutex(mutex_);
    if (mutex_) ::CloseHandle(mutex_);
  }
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;
  bool held() const { return held_; }

 private:
  HANDLE mutex_;
  bool held_ = false;
};

std::uint64_t FileTimeUnits(const FILETIME& t) {
  return static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string text;
  char chunk[16384];
  DWORD read = 0;
  bool ok;
  while ((ok = ::ReadFile(file, chunk, sizeof chunk, &read, nullptr)) && read > 0) {
    text.append(chunk, read);
  }
  ::CloseHandle(file);
  return ok ? std::optional(text) : std::nullopt;
}

// Rewritten in place: a rename or a truncation to zero makes the file system flush, which would
// cost milliseconds on every transfer.
bool WriteWholeFile(const std::wstring& path, const std::string& text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size() && ::SetEndOfFile(file);
  ::CloseHandle(file);
  return ok;
}

std::string NodeText(std::uint32_t generation) {
  return "obrint-sim-interface generation=" + std::to_string(generation) + "\n";
}

}  // namespace

std::optional<std::uint32_t> NodeGeneration(HANDLE handle) {
  // The program's handles are overlapped: read at offset 0 and wait for it.
  OVERLAPPED ov{};
  ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ov.hEvent == nullptr) return std::nullopt;
  char text[64] = {};
  DWORD read = 0;
  BOOL ok = ::ReadFile(handle, text, sizeof text - 1, nullptr, &ov);
  if (ok || ::GetLastError() == ERROR_IO_PENDING) {
    ok = ::GetOverlappedResult(handle, &ov, &read, TRUE);
  }
  ::CloseHandle(ov.hEvent);
  unsigned generation = 0;
  if (!ok || std::sscanf(text, "obrint-sim-interface generation=%u", &generation) != 1) {
    return std::nullopt;
  }
  return generation;
}

SimStore::SimStore(const std::wstring& directory)
    : statePath_(directory + L"\\" + kStateFileName) {}

std::optional<sim::Headset> SimStore::Load() const {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(statePath_.c_str(), GetFileExInfoStandard, &data)) {
    return ::GetLastError() == ERROR_FILE_NOT_FOUND ? std::optional(sim::Headset()) : std::nullopt;
  }
  const std::optional<std::string> text = ReadWholeFile(statePath_);
  std::optional<sim::Headset> headset = text ? sim::Headset::Load(*text) : std::nullopt;
  if (headset) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t savedAt = FileTimeUnits(data.ftLastWriteTime);
    const std::uint64_t elapsedMs =
        FileTimeUnits(now) > savedAt ? (FileTimeUnits(now) - savedAt) / 10000 : 0;
    headset->Advance(static_cast<unsigned>(std::min<std::uint64_t>(elapsedMs, UINT_MAX)));
  }
  return headset;
}

bool SimStore::Save(const sim::Headset& headset) const {
  if (!WriteWholeFile(statePath_, headset.Save())) return false;
  SyncInterfaces(headset);
  return true;
}

void SimStore::SyncInterfaces(const sim::Headset& headset) const {
  sim::Headset settled = headset;
  settled.Advance(headset.config().restartMs);
  static unsigned retired = 0;
  for (const std::uint16_t pid : {headset.config().applicationProductId, kBootPid}) {
    wchar_t suffix[16];
    std::swprintf(suffix, 16, L".if-%04x", static_cast<unsigned>(pid));
    const std::wstring directory = statePath_ + suffix;
    const std::wstring node = directory + L"\\node";
    const std::string wanted =
        settled.present() && settled.productId() == pid ? NodeText(settled.generation()) : "";
    const bool onBus = ::GetFileAttributesW(directory.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (onBus && ReadWholeFile(node) == wanted) continue;
    // Renamed away, which works while the program still holds the node open.
    if (onBus) {
      ::MoveFileW(directory.c_str(), (statePath_ + L".gone-" + std::to_wstring(::GetTickCount()) +
                                      L"-" + std::to_wstring(++retired))
                                         .c_str());
    }
    if (!wanted.empty() && ::CreateDirectoryW(directory.c_str(), nullptr)) {
      WriteWholeFile(node, wanted);
    }
  }
  // A node that a program still holds cannot go yet; a later save tries again.
  const std::wstring folder = statePath_.substr(0, statePath_.find_last_of(L'\\') + 1);
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileW((statePath_ + L".gone-*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    ::DeleteFileW((folder + found.cFileName + L"\\node").c_str());
    ::RemoveDirectoryW((folder + found.cFileName).c_str());
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
}

bool SimStore::Update(const std::function<bool(sim::Headset&)>& change) const {
  const StateLock lock;
  std::optional<sim::Headset> headset = lock.held() ? Load() : std::nullopt;
  if (!headset) return false;
  const bool changed = change(*headset);
  return Save(*headset) && changed;
}

bool SimStore::Reset(const sim::Headset& headset) const {
  const StateLock lock;
  return lock.held() && Save(headset);
}

std::optional<sim::Headset> SimStore::Read() const {
  const StateLock lock;
  return lock.held() ? Load() : std::nullopt;
}

}  // namespace obrint::hiddouble
