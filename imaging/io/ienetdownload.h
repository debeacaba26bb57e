// Loading images from the internet: http, https and ftp addresses are fetched into memory through the
// platform's WinInet library, which is loaded by name at the I/O unit's start-up (a system without it
// simply cannot download).
#pragma once
#include <atomic>
#include <string>

#include "iestreams.h"
#include "ieutils.h"

// Loads "wininet.dll" and looks up its entries once; a missing library leaves downloads impossible.
void IELoadWinInet();
// Frees the library when loaded.
void IEUnloadWinInet();
bool IEWinInetLoaded();

// Fetches `url` into `target` (appended at its position). True only when the whole body arrived: a
// malformed address, a failed connection, request, send or read, an HTTP status outside 200..299,
// a certificate the system does not trust, a body shorter than its stated length, or `abort` seen
// True between two blocks give False. `typeText` receives the content type after its "/" (http) or
// the file's extension without the dot, at most 10 characters (ftp). Progress, when set, receives
// the percentage of a body of known length.
bool IEDownload(const std::wstring& url, TIEMemoryStream& target, const std::atomic<bool>* abort,
                const TIEProgressEvent& progress, void* sender, std::string& typeText);
