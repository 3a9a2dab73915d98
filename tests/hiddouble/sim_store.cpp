#include "hiddouble/sim_store.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace obrint::hiddouble {
namespace {

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

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), {});
}

bool WriteWholeFile(const std::wstring& path, const std::string& text) {
  std::ofstream file(std::filesystem::path(path), std::ios::binary);
  return static_cast<bool>(file.write(text.data(), std::streamsize(text.size())).flush());
}

}  // namespace

std::optional<std::uint32_t> NodeGeneration(HANDLE handle) {
  // The program's handles are overlapped: read at offset 0 and wait for it.
  const std::unique_ptr<void, decltype(&::CloseHandle)> event(
      ::CreateEventW(nullptr, TRUE, FALSE, nullptr), &::CloseHandle);
  OVERLAPPED ov{};
  ov.hEvent = event.get();
  char text[64] = {};
  DWORD read = 0;
  unsigned generation = 0;
  const bool ok = (::ReadFile(handle, text, sizeof text - 1, nullptr, &ov) ||
                   ::GetLastError() == ERROR_IO_PENDING) &&
                  ::GetOverlappedResult(handle, &ov, &read, TRUE);
  if (!ok || std::sscanf(text, "generation %u", &generation) != 1) return std::nullopt;
  return generation;
}

std::wstring RunDirectory() {
  std::wstring path = L"Z:" OBRINT_HIDDOUBLE_RUN_DIR;  // Wine's drive for the Unix root
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::optional<sim::Headset> SimStore::Load() const {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(statePath_.c_str(), GetFileExInfoStandard, &data)) {
    return ::GetLastError() == ERROR_FILE_NOT_FOUND ? std::optional(sim::Headset()) : std::nullopt;
  }
  const std::optional<std::string> text = ReadWholeFile(statePath_);
  std::optional<sim::Headset> headset = text ? sim::Headset::Load(*text) : std::nullopt;
  // Virtual time moves on by the real time since the save (FILETIME counts 100 ns).
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const auto units = [](const FILETIME& t) {
    return std::uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime;
  };
  const std::uint64_t elapsedMs =
      (units(now) - std::min(units(now), units(data.ftLastWriteTime))) / 10000;
  if (headset)
    headset->Advance(static_cast<unsigned>(std::min<std::uint64_t>(elapsedMs, UINT_MAX)));
  return headset;
}

void SimStore::SyncInterfaces(const sim::Headset& headset) const {
  sim::Headset settled = headset;
  settled.Advance(headset.config().restartMs);
  static unsigned retired = 0;
  for (const std::uint16_t pid : {headset.config().applicationProductId, std::uint16_t{0x0001}}) {
    wchar_t suffix[16];
    std::swprintf(suffix, 16, L".if-%04x", static_cast<unsigned>(pid));
    const std::wstring directory = statePath_ + suffix;
    const std::string wanted = settled.present() && settled.productId() == pid
                                   ? "generation " + std::to_string(settled.generation()) + "\n"
                                   : "";
    const bool onBus = ::GetFileAttributesW(directory.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (onBus && ReadWholeFile(directory + L"\\node") == wanted) continue;
    // Renamed away, which works while the program still holds the node open; install-sim.sh
    // clears what gathers of them.
    if (onBus) {
      ::MoveFileW(directory.c_str(), (statePath_ + L".gone-" + std::to_wstring(::GetTickCount()) +
                                      L"-" + std::to_wstring(++retired))
                                         .c_str());
    }
    if (!wanted.empty() && ::CreateDirectoryW(directory.c_str(), nullptr)) {
      WriteWholeFile(directory + L"\\node", wanted);
    }
  }
}

bool SimStore::Update(const std::function<bool(sim::Headset&)>& change) const {
  const StateLock lock;
  std::optional<sim::Headset> headset = lock.held() ? Load() : std::nullopt;
  if (!headset) return false;
  const bool changed = change(*headset);
  // No test reads the double's traffic: kept, it would make every call slower than the last.
  headset->ClearLog();
  if (!WriteWholeFile(statePath_, headset->Save())) return false;
  SyncInterfaces(*headset);
  return changed;
}

std::optional<sim::Headset> SimStore::Read() const {
  const StateLock lock;
  return lock.held() ? Load() : std::nullopt;
}

}  // namespace obrint::hiddouble
