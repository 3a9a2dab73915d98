// Windows: the console's events, taken as the signals they stand for. Windows calls the handler
// on a thread of its own.
#include <windows.h>

#include <csignal>

#include "engine/signals.h"

namespace obrint::engine {
namespace {

constexpr int kHangUp = 1;  // as SIGHUP: the console went away

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      SignalWatch::Raise(SIGINT);
      return TRUE;
    case CTRL_BREAK_EVENT:
      SignalWatch::Raise(SIGBREAK);
      return TRUE;
    default:  // closed, logoff, shutdown
      SignalWatch::Raise(kHangUp);
      // Windows ends the process as soon as this returns: the program ends it itself, once every
      // headset has its record (or Windows does, after its few seconds' grace).
      ::Sleep(INFINITE);
      return TRUE;
  }
}

}  // namespace

void SignalWatch::Install() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

void SignalWatch::Restore() { ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE); }

}  // namespace obrint::engine
