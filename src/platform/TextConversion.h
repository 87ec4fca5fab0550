#pragma once

#include <string>

// Conversions between the locale's character set (narrow text such as the
// server lists) and the UTF-8 the program works in. The locale is the one the
// environment names, taken once with setlocale(LC_ALL, "") on first use. In
// UTF-8 locales, and in the C/POSIX locale (where narrow text is taken to be
// UTF-8), both are the identity. Any thread may call them.

// Bytes that do not convert become U+FFFD.
std::string LocaleToUtf8(const std::string& text);
// Characters the locale cannot hold become '?'.
std::string Utf8ToLocale(const std::string& text);

// A relative name from a server list as a local path part: '\' becomes '/'.
std::string ListedNameToLocalPath(std::string name);

// UTF-8 text made safe to print on a terminal, so that text from a server
// list cannot move the cursor, retitle the window or clear the screen. C0
// controls (0x00-0x1F) and DEL become "\xNN"; C1 controls (U+0080-U+009F,
// two bytes in UTF-8) become "\u00NN"; a backslash stays as it is. Every
// byte that is not part of a well-formed UTF-8 sequence (stray continuation
// bytes, truncated or overlong sequences, surrogates, beyond U+10FFFF)
// becomes "\xNN". All other text passes unchanged. Pure; any thread.
std::string EscapeControlCharacters(const std::string& text);
