// Per-user registration of the stand-in (HKCU\Software\Classes): the class with its local server,
// and the ProgIDs the conversion program resolves. A ProgID that names another class (the real
// application's, on a machine that has it) is never overwritten or removed.
#pragma once
#include <windows.h>

#include <string>

namespace presenter {

// {B4054DFA-328B-4096-8743-471BA986C10C}
extern const CLSID kStandInClsid;
extern const wchar_t kStandInClsidText[];
extern const wchar_t kProgId[];          // version-independent
extern const wchar_t kVersionedProgId[];

enum class RegistrationResult { Done, RefusedForeignProgId, Failed };

// Registers `serverPath` as the class's local server. `message` says what was done or refused.
RegistrationResult RegisterServer(const std::wstring& serverPath, std::wstring& message);
// Removes the class and those ProgIDs that name it.
RegistrationResult UnregisterServer(std::wstring& message);

}  // namespace presenter
