// Descriptions live in the file as Windows-1251 bytes; the edges (windows, terminal)
// speak UTF-8. Conversion never replaces a character silently.
#pragma once

#include <string>
#include <string_view>

std::string Cp1251ToUtf8(std::string_view cp1251);
// False when `utf8` holds a character Windows-1251 cannot hold (or is not UTF-8);
// `badChar` then receives that character (as UTF-8) for the message.
bool Utf8ToCp1251(std::string_view utf8, std::string& cp1251, std::string* badChar = nullptr);
