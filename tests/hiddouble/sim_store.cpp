#include "hiddouble/sim_store.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

namespace obrint::hiddouble {
namespace {

constexpr std::uint16_t kVendorId = 0x2833;
constexpr std::uint16_t kBootPid = 0x0001;
constexpr char kInstance[] = "7&1a2b3c4d&0&0000";
constexpr wchar_t kInterfaceInfix[] = L".if-";
constexpr wchar_t kRetiredInfix[] = L".gone-";
constexpr wchar_t kNodeName[] = L"node";
constexpr char kNodeFormat[] = "obrint-sim-interface pid=%04x generation=%u\n";

// Frees what Wine's path helpers return.
struct HeapText {
  void* p;
  ~HeapText() {
    if (p) ::HeapFree(::GetProcessHeap(), 0, p);
  }
};

template <typename Fn>
Fn WineHelper(const char* name) {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  return kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)))
                : nullptr;
}

std::wstring FormatW(const wchar_t* format, unsigned value) {
  wchar_t text[32];
  std::swprintf(text, 32, format, value);
  return text;
}

std::optional<std::string> ReadSmallFile(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  char text[128];
  DWORD read = 0;
  const BOOL ok = ::ReadFile(file, text, sizeof text, &read, nullptr);
  ::CloseHandle(file);
  if (!ok) return std::nullopt;
  return std::string(text, read);
}

bool WriteWholeFile(const std::wstring& path, std::string_view text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == text.size();
}

std::string NodeText(std::uint16_t pid, std::uint32_t generation) {
  char text[96];
  std::snprintf(text, sizeof text, kNodeFormat, static_cast<unsigned>(pid),
                static_cast<unsigned>(generation));
  return text;
}

std::wstring DirectoryOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

// Every directory next to the state file whose name starts with "<state name><infix>".
std::vector<std::wstring> SiblingDirectories(const std::wstring& statePath, const wchar_t* infix) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((statePath + infix + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return found;
  const std::wstring directory = DirectoryOf(statePath);
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      found.push_back(directory + L"\\" + data.cFileName);
    }
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return found;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::uint64_t FileTimeUnits(const FILETIME& t) {
  return static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

}  // namespace

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring ToWindowsPath(std::wstring_view path) {
  if (path.empty() || path[0] != L'/') return std::wstring(path);
  using ToDos = WCHAR*(CDECL*)(LPCSTR);
  if (const auto toDos = WineHelper<ToDos>("wine_get_dos_file_name")) {
    const std::string unixPath(path.begin(), path.end());
    HeapText dos{toDos(unixPath.c_str())};
    if (dos.p) return static_cast<const wchar_t*>(dos.p);
  }
  std::wstring out = L"Z:" + std::wstring(path);
  std::replace(out.begin(), out.end(), L'/', L'\\');
  return out;
}

std::string ToUnixPath(const std::wstring& windowsPath) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  const auto toUnix = WineHelper<ToUnix>("wine_get_unix_file_name");
  if (!toUnix) return {};
  HeapText unixPath{toUnix(windowsPath.c_str())};
  return unixPath.p ? std::string(static_cast<const char*>(unixPath.p)) : std::string();
}

std::wstring StatePathFor(const std::wstring& defaultDirectory) {
  wchar_t value[MAX_PATH * 2];
  const DWORD n = ::GetEnvironmentVariableW(kStateVariable, value, MAX_PATH * 2);
  if (n > 0 && n < MAX_PATH * 2) return ToWindowsPath(value);
  return defaultDirectory + L"\\" + kDefaultStateName;
}

std::string InterfaceSubkeyName(std::uint16_t pid) {
  char name[160];
  std::snprintf(name, sizeof name, "##?#HID#VID_%04X&PID_%04X#%s#{%s}",
                static_cast<unsigned>(kVendorId), static_cast<unsigned>(pid), kInstance,
                kHidClassGuidLower);
  return name;
}

std::string InterfaceDeviceName(std::uint16_t pid) {
  char name[160];
  std::snprintf(name, sizeof name, "hid#vid_%04x&pid_%04x#%s#{%s}",
                static_cast<unsigned>(kVendorId), static_cast<unsigned>(pid), kInstance,
                kHidClassGuidLower);
  return name;
}

std::wstring InterfaceDirectory(const std::wstring& statePath, std::uint16_t pid) {
  return statePath + kInterfaceInfix + FormatW(L"%04x", pid);
}

std::wstring InterfaceNode(const std::wstring& statePath, std::uint16_t pid) {
  return InterfaceDirectory(statePath, pid) + L"\\" + kNodeName;
}

std::optional<InterfaceIdentity> IdentifyInterface(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return std::nullopt;
  // The program's handles are overlapped: read at offset 0 and wait for it.
  OVERLAPPED ov{};
  ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ov.hEvent == nullptr) return std::nullopt;
  char text[128] = {};
  DWORD read = 0;
  BOOL ok = ::ReadFile(handle, text, sizeof text - 1, nullptr, &ov);
  if (ok || ::GetLastError() == ERROR_IO_PENDING) {
    ok = ::GetOverlappedResult(handle, &ov, &read, TRUE);
  }
  ::CloseHandle(ov.hEvent);
  if (!ok) return std::nullopt;
  text[std::min<DWORD>(read, sizeof text - 1)] = '\0';
  unsigned pid = 0;
  unsigned generation = 0;
  if (std::sscanf(text, "obrint-sim-interface pid=%x generation=%u", &pid, &generation) != 2 ||
      pid > 0xFFFF) {
    return std::nullopt;
  }
  return InterfaceIdentity{static_cast<std::uint16_t>(pid), generation};
}

StateLock::StateLock(const std::wstring& statePath) {
  wchar_t full[MAX_PATH * 2];
  const DWORD n = ::GetFullPathNameW(statePath.c_str(), MAX_PATH * 2, full, nullptr);
  std::wstring key = n > 0 && n < MAX_PATH * 2 ? std::wstring(full) : statePath;
  std::transform(key.begin(), key.end(), key.begin(), [](wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
  });
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (const wchar_t c : key) hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\obrint-hiddouble-%016llx",
                static_cast<unsigned long long>(hash));
  mutex_ = ::CreateMutexW(nullptr, FALSE, name);
  if (mutex_ == nullptr) return;
  const DWORD wait = ::WaitForSingleObject(mutex_, INFINITE);
  held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

StateLock::~StateLock() {
  if (held_) ::ReleaseMutex(mutex_);
  if (mutex_) ::CloseHandle(mutex_);
}

void CatchUp(sim::Headset& headset, std::uint64_t savedAt) {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const std::uint64_t at = FileTimeUnits(now);
  const std::uint64_t elapsedMs = at > savedAt ? (at - savedAt) / 10000 : 0;
  headset.Advance(static_cast<unsigned>(std::min<std::uint64_t>(elapsedMs, UINT_MAX)));
}

std::string LiveInterface(const sim::Headset& headset) {
  sim::Headset settled = headset;
  settled.Advance(headset.config().restartMs);
  return settled.present() ? NodeText(settled.productId(), settled.generation()) : std::string();
}

SimStore::SimStore(std::wstring statePath) : statePath_(std::move(statePath)) {
  std::replace(statePath_.begin(), statePath_.end(), L'/', L'\\');
}

SimStore::LoadResult SimStore::Load(bool catchUp, std::optional<sim::Headset>& headset) const {
  headset.reset();
  HANDLE file = ::CreateFileW(statePath_.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? LoadResult::kMissing
                                                                          : LoadResult::kUnreadable;
  }
  std::string text;
  FILETIME savedAt{};
  bool ok = ::GetFileTime(file, nullptr, nullptr, &savedAt);
  for (char chunk[16384]; ok;) {
    DWORD read = 0;
    ok = ::ReadFile(file, chunk, sizeof chunk, &read, nullptr);
    if (read == 0) break;
    text.append(chunk, read);
  }
  ::CloseHandle(file);
  if (!ok) return LoadResult::kUnreadable;
  headset = sim::Headset::Load(text);
  if (!headset) return LoadResult::kUnreadable;
  if (catchUp) CatchUp(*headset, FileTimeUnits(savedAt));
  return LoadResult::kLoaded;
}

bool SimStore::Save(const sim::Headset& headset) const {
  if (!SaveState(headset)) return false;
  SyncInterfaces(headset);
  return true;
}

bool SimStore::SaveState(const sim::Headset& headset) const {
  // Rewritten in place: every reader holds the lock, and a rename or a truncation to zero makes
  // the file system flush, which costs milliseconds on every transfer.
  HANDLE file = ::CreateFileW(statePath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const std::string text = headset.Save();
  DWORD written = 0;
  const bool ok =
      ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size() && ::SetEndOfFile(file);
  ::CloseHandle(file);
  return ok;
}

std::optional<StateStamp> SimStore::Stamp() const {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(statePath_.c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  return StateStamp{FileTimeUnits(data.ftLastWriteTime),
                    static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow};
}

void SimStore::SyncInterfaces(const sim::Headset& headset) const {
  const std::string liveText = LiveInterface(headset);
  std::optional<std::uint16_t> livePid;
  unsigned pid = 0;
  if (std::sscanf(liveText.c_str(), "obrint-sim-interface pid=%x", &pid) == 1) {
    livePid = static_cast<std::uint16_t>(pid);
  }

  // Take off the bus every interface that is not the live one, or is an older generation of it.
  static unsigned retired = 0;
  for (const std::wstring& directory : SiblingDirectories(statePath_, kInterfaceInfix)) {
    const bool isLive = livePid && SamePath(directory, InterfaceDirectory(statePath_, *livePid)) &&
                        ReadSmallFile(directory + L"\\" + kNodeName) == liveText;
    if (isLive || directory.find(kRetiredInfix) != std::wstring::npos) continue;
    const std::wstring away = directory + kRetiredInfix + FormatW(L"%u", ::GetTickCount()) + L"-" +
                              FormatW(L"%u", ++retired);
    ::MoveFileW(directory.c_str(), away.c_str());
  }
  if (livePid) {
    const std::wstring directory = InterfaceDirectory(statePath_, *livePid);
    if (::CreateDirectoryW(directory.c_str(), nullptr)) {
      WriteWholeFile(directory + L"\\" + kNodeName, liveText);
    }
  }
  SweepRetiredInterfaces();
}

void SimStore::SweepRetiredInterfaces() const {
  // A node that a program still holds cannot go yet; a later save tries again.
  for (const std::wstring& directory : SiblingDirectories(statePath_, kInterfaceInfix)) {
    if (directory.find(kRetiredInfix) == std::wstring::npos) continue;
    ::DeleteFileW((directory + L"\\" + kNodeName).c_str());
    ::RemoveDirectoryW(directory.c_str());
  }
}

bool SimStore::Update(const std::function<void(sim::Headset&)>& change, bool catchUp) const {
  StateLock lock(statePath_);
  if (!lock.held()) return false;
  std::optional<sim::Headset> headset;
  const LoadResult result = Load(catchUp, headset);
  if (result == LoadResult::kUnreadable) return false;
  if (!headset) headset.emplace();
  change(*headset);
  return Save(*headset);
}

std::optional<sim::Headset> SimStore::Read() const {
  StateLock lock(statePath_);
  if (!lock.held()) return std::nullopt;
  std::optional<sim::Headset> headset;
  Load(false, headset);
  return headset;
}

}  // namespace obrint::hiddouble
