// The vector editor module's process-wide values, made by its start-up step: the clipboard format
// "ZODUROV EDIV", the twelve Ctrl shortcuts the memo editor recognises, and the registry of extended
// object classes (application classes that the objects stream can re-create by name).
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <typeindex>

class TIEVExtendedObject;

extern UINT IEVectClipboardFormat;

// The memo editor's shortcuts, in this order.
enum TIEVectShortcut : uint8_t {
  iescAlignLeft, iescAlignCenter, iescAlignRight, iescJustify, iescCopy, iescCut, iescPaste,
  iescFont, iescBold, iescItalic, iescUnderline, iescBackColor, iescCount
};
extern int IEVectShortcuts[iescCount];  // menu shortcut values (key | scCtrl); 0 before start-up

void IEVectStaticInit();
void IEVectStaticFini();

// An extended object class: its factory makes an instance in the base state (no owner, no record,
// handle -1).
using TIEVExtendedFactory = std::function<TIEVExtendedObject*()>;
// Adds a class under `name` (case-sensitive); the first entry of a name wins on lookup.
void IERegisterExtendedClass(const std::string& name, std::type_index classId, TIEVExtendedFactory factory);
// A new instance of the first class registered under `name`, nullptr when none.
TIEVExtendedObject* CreateExtendedObject(const std::string& name);
// The registered name of a class, "" when none.
std::string ExtendedClassName(std::type_index classId);
