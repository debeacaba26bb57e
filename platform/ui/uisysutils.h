// Exceptions of the user-interface library and the platform globals.
#pragma once
#include <stdexcept>
#include <string>

#include "uiobject.h"

namespace ui {

// Root of the library's exceptions: a message in the system code page.
class Exception : public std::exception {
 public:
  explicit Exception(std::string msg) : msg_(std::move(msg)) {}
  const char* what() const noexcept override { return msg_.c_str(); }
  const std::string& Message() const { return msg_; }
  // The class name shown nowhere but useful to handlers that sort errors.
  virtual const char* ClassName() const { return "Exception"; }

 private:
  std::string msg_;
};

// Declares exception class Name derived from Base. Base may be qualified (ui::Exception): the
// constructors are inherited through an alias, since `using ui::Exception::ui::Exception` is no C++.
#define UI_EXCEPTION(Name, Base)                                       \
  class Name : public Base {                                           \
   public:                                                             \
    using base_type = Base;                                            \
    using base_type::base_type;                                        \
    const char* ClassName() const override { return #Name; }           \
  };

// Silent exception: the default handler shows nothing for it.
UI_EXCEPTION(EAbort, Exception)
UI_EXCEPTION(EConvertError, Exception)
UI_EXCEPTION(EListError, Exception)
UI_EXCEPTION(EStringListError, Exception)
UI_EXCEPTION(EComponentError, Exception)
UI_EXCEPTION(EStreamError, Exception)
UI_EXCEPTION(EFCreateError, EStreamError)
UI_EXCEPTION(EFOpenError, EStreamError)
UI_EXCEPTION(EReadError, EStreamError)
UI_EXCEPTION(EWriteError, EStreamError)
UI_EXCEPTION(EResNotFound, Exception)
UI_EXCEPTION(EClassNotFound, EReadError)
UI_EXCEPTION(EInvalidOperation, Exception)
UI_EXCEPTION(EOutOfResources, Exception)
UI_EXCEPTION(EInvalidGraphic, Exception)
UI_EXCEPTION(EInvalidGraphicOperation, Exception)
UI_EXCEPTION(EOSError, Exception)
UI_EXCEPTION(EAssertionFailed, Exception)

// Raises EAbort.
[[noreturn]] void Abort();
// Raises EOSError with the system's text for GetLastError().
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseOSError(unsigned long code);
std::string SysErrorMessage(unsigned long code);

// Library messages.
extern const char* const SListIndexError;        // "List index out of bounds (%d)"
extern const char* const SDuplicateString;       // sorted list refused a duplicate
extern const char* const SSortedListError;       // insert into a sorted list
extern const char* const SDuplicateName;         // "A component named %s already exists"
extern const char* const SInvalidName;           // "\"%s\" is not a valid component name"
extern const char* const SInvalidPropertyValue;  // the read error for a bad value or unknown name
extern const char* const SReadError;             // stream read short
extern const char* const SWriteError;            // stream write short
extern const char* const SFCreateError;          // "Cannot create file \"%s\". %s"
extern const char* const SFOpenError;            // "Cannot open file \"%s\". %s"
extern const char* const SInvalidImage;          // bad layout stream
extern const char* const SResNotFound;           // "Resource %s not found"
extern const char* const SClassNotFound;         // "Class %s not found"
extern const char* const SUnresolvedReference;   // "Unresolved reference to %s"
extern const char* const SParentRequired;        // "Control \"%s\" has no parent window"
extern const char* const SCannotFocus;           // focus on a disabled or invisible window
extern const char* const SVisibleChanged;        // ShowModal of a visible form
extern const char* const SInvalidBitmap;
extern const char* const SUnknownExtension;      // "Unknown picture file extension (.%s)"

std::string Format(const char* fmt, ...);

// Platform globals, filled once at start-up.
extern int Win32Platform;        // VER_PLATFORM_WIN32_NT (2) or VER_PLATFORM_WIN32_WINDOWS (1)
extern int Win32MajorVersion;
extern int Win32MinorVersion;
extern int Win32BuildNumber;
extern bool SysLocaleFarEast;    // double-byte system code page
extern bool SysLocaleMiddleEast; // right-to-left system locale
extern unsigned SysLocalePriLangID;
extern unsigned SysLocaleSubLangID;

}  // namespace ui
