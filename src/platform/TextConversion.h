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
