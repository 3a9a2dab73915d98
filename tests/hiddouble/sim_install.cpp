#include "hiddouble/sim_install.h"

#include <windows.h>

#include <cstdio>

namespace obrint::hiddouble {
namespace {

constexpr std::uint16_t kBootPid = 0x0001;

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace

std::wstring HidDoublePath() { return ToWindowsPath(Widen(OBRINT_HIDDOUBLE_DLL)); }

std::string DosDevicesDirectory() {
  // Wine names drive C: through the prefix's dosdevices directory: ".../dosdevices/c:/".
  const std::string drive = ToUnixPath(L"C:\\");
  const std::size_t at = drive.rfind("/dosdevices/");
  if (at == std::string::npos) return {};
  return drive.substr(0, at + 12);
}

bool RunUnixShell(const std::string& script, unsigned timeoutMs) {
  // Wine starts Unix programs but hands back no waitable process: the script goes into a file of
  // its own (no quoting through a Windows command line) and marks its end in another, which this
  // side polls.
  wchar_t temp[MAX_PATH];
  wchar_t scriptFile[MAX_PATH];
  if (!::GetTempPathW(MAX_PATH, temp) || !::GetTempFileNameW(temp, L"obr", 0, scriptFile)) {
    return false;
  }
  const std::wstring marker = std::wstring(scriptFile) + L".done";
  const std::string scriptUnix = ToUnixPath(scriptFile);
  const std::string markerUnix = ToUnixPath(marker);
  bool ok = !scriptUnix.empty() && !markerUnix.empty();
  if (ok) {
    const std::string text = "{ " + script + "\n}\necho $? > " + ShellQuoted(markerUnix) + "\n";
    HANDLE file = ::CreateFileW(scriptFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ok = file != INVALID_HANDLE_VALUE &&
         ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  }
  if (ok) {
    std::string command = "/bin/sh \"" + scriptUnix + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ok = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &si, &pi);
    if (pi.hThread) ::CloseHandle(pi.hThread);
    if (pi.hProcess) ::CloseHandle(pi.hProcess);
  }
  // The marker holds the script's exit status once it has finished.
  std::string status;
  for (unsigned waited = 0; ok && waited <= timeoutMs; waited += 20) {
    HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      char text[16];
      DWORD read = 0;
      if (::ReadFile(file, text, sizeof text, &read, nullptr)) status.assign(text, read);
      ::CloseHandle(file);
    }
    if (status.find('\n') != std::string::npos) break;
    ::Sleep(20);
  }
  ::DeleteFileW(marker.c_str());
  ::DeleteFileW(scriptFile);
  return status == "0\n";
}

bool AddHidInterfaceKey(const std::string& subkeyName) {
  const std::string path = std::string(kHidInterfaceListKey) + "\\" + subkeyName;
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

void RemoveHidInterfaceKey(const std::string& subkeyName) {
  const std::string path = std::string(kHidInterfaceListKey) + "\\" + subkeyName;
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

std::string InstallSimulatedHeadset(const std::wstring& programDirectory,
                                    const std::wstring& statePath, const sim::Headset& headset) {
  const std::wstring dll = programDirectory + L"\\hid.dll";
  if (!::CopyFileW(HidDoublePath().c_str(), dll.c_str(), FALSE)) {
    return "cannot copy " + Narrow(HidDoublePath()) + " to " + Narrow(dll);
  }
  const std::string devices = DosDevicesDirectory();
  if (devices.empty()) return "not running under Wine: no dosdevices directory";
  const std::string stateUnix = ToUnixPath(statePath);
  if (stateUnix.empty()) return "no Unix path for " + Narrow(statePath);

  std::string links;
  for (const std::uint16_t pid : {headset.config().applicationProductId, kBootPid}) {
    if (!AddHidInterfaceKey(InterfaceSubkeyName(pid))) {
      return "cannot create the registry key of " + InterfaceSubkeyName(pid);
    }
    // The node's directory may not exist yet: its Unix path is built from the state file's.
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".if-%04x/node", static_cast<unsigned>(pid));
    const std::string node = stateUnix + suffix;
    if (!links.empty()) links += " && ";
    links += "ln -sfn " + ShellQuoted(node) + " " + ShellQuoted(devices + InterfaceDeviceName(pid));
  }
  if (!RunUnixShell(links)) return "cannot link the interfaces into " + devices;
  const SimStore store(statePath);
  StateLock lock(store.statePath());
  if (!lock.held() || !store.Save(headset)) return "cannot write " + Narrow(statePath);
  return {};
}

void UninstallSimulatedHeadset(const SimInstallation& installation) {
  const std::string devices = DosDevicesDirectory();
  std::string unlinks;
  for (const std::uint16_t pid : {installation.applicationPid, kBootPid}) {
    RemoveHidInterfaceKey(InterfaceSubkeyName(pid));
    if (devices.empty()) continue;
    if (!unlinks.empty()) unlinks += " && ";
    unlinks += "rm -f " + ShellQuoted(devices + InterfaceDeviceName(pid));
  }
  if (!unlinks.empty()) RunUnixShell(unlinks);
}

}  // namespace obrint::hiddouble
