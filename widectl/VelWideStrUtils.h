// Zero-terminated wide character buffers. A buffer made by WideStrAllocBuffer (or WideStrDuplicate)
// carries a hidden 4-byte header holding the block's size in bytes and is released with
// WideStrFreeBuffer.
#pragma once
#include <cstddef>
#include <string>

// Room for `count` characters; throws std::bad_alloc when 2 x count + 4 bytes exceed 4 GB - 1.
wchar_t* WideStrAllocBuffer(size_t count);
void WideStrFreeBuffer(wchar_t* buffer);
// The block size in bytes recorded in the header (header included).
size_t WideStrBufferSize(const wchar_t* buffer);
// Moves `count` characters; the areas may overlap.
wchar_t* WideStrMoveChars(wchar_t* destination, const wchar_t* source, size_t count);
// A new buffer holding the text; null for null.
wchar_t* WideStrDuplicate(const wchar_t* buffer);
size_t WideStrLength(const wchar_t* buffer);
wchar_t* WideStrEndPointer(wchar_t* buffer);
// Copies up to `maximum` characters (fewer at the source's terminator) and a terminator after them:
// `destination` needs room for maximum + 1 characters.
wchar_t* WideStrLCopy(wchar_t* destination, const wchar_t* source, size_t maximum);
wchar_t* WideStrCopyFromString(wchar_t* destination, const std::wstring& s);
// First position holding `c`; the terminator takes part, so c = 0 finds the end.
wchar_t* WideStrScan(const wchar_t* buffer, wchar_t c);
// The last character of s, or null for an empty string.
wchar_t* WideLastChar(std::wstring& s);
