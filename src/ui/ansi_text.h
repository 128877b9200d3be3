#pragma once

#include <string>

// The program holds text as UTF-16; registry names, the report file and the
// 8-bit API calls use the system's ANSI code page.
std::wstring widenAnsi(const std::string& text);
std::string narrowToAnsi(const std::wstring& text);
