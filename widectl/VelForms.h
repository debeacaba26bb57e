// Unicode forms and the application's wide text.
#pragma once
#include <string>

// Whether the character of a key message (KeyCharToWide) is the caption's accelerator: the character
// after its last single "&", compared without regard to case.
bool IsWideCharAccel(unsigned charCode, const std::wstring& caption);
