#include "win/file_dialog.h"

#include <commdlg.h>

#include <array>

#include "winbase/text.h"

namespace obrint::win {

// The dialog's structure is passed at its full size, as the system's own file dialogs expect.
static_assert(sizeof(void*) != 4 || sizeof(OPENFILENAMEW) == 88);

std::string ChooseFirmwareImage(HWND owner) {
  std::array<wchar_t, MAX_PATH> file{};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  // Each entry ends in a null character; the literal's own terminator ends the list.
  ofn.lpstrFilter = L"bin\0*.bin\0All\0*.*\0";
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (!::GetOpenFileNameW(&ofn)) return {};
  return winbase::Narrow(file.data());
}

}  // namespace obrint::win
