// How the program tells the user what went wrong outside the headset commands: message boxes
// with the system's error texts, and diagnostic lines for a debugger. Texts are UTF-8.
#pragma once

#include <windows.h>

#include <source_location>
#include <string>
#include <string_view>

// The system's message for an error code without its final line break, or a fallback text when
// the system has none.
std::string SystemErrorText(DWORD code);

// Application message box with an exclamation icon: `prefix` followed directly by the text of
// `code`, which the caller read with GetLastError() right after the failing call.
void ShowErrorBox(std::string_view prefix, DWORD code);
// Application message box with an OK button.
void ShowPlainBox(std::string_view text);

// A diagnostic line on the debugger's output with the caller's source location.
void DebugTrace(std::string_view text,
                std::source_location where = std::source_location::current());
