// Key numbers and the two ways the operator sees and types them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using KeyCode = std::uint32_t;  // bits 0..23 are the number; 0 means no key

// 0 iButton (hexadecimal), any other value EM-Marine "3+5" (decimal).
constexpr int TypeFormatIButton = 0;
constexpr int TypeFormatEmMarine = 1;

// The display-format combo box entries, index = stored TypeFormat.
const char* TypeFormatCaption(int typeFormat);

// "XX XX XXXXXX %06X" or "%03d,%05d".
std::string Format(int typeFormat, KeyCode code);

// The pieces of the shown forms, appended without allocating: six upper-case hexadecimal
// digits (more when the code is wider), and a decimal zero-padded to `width`.
void AppendHex(std::string& out, KeyCode code);
void AppendDecimal(std::string& out, unsigned value, int width);
// Appends the same text to `out`, for building long lists without temporaries.
void AppendFormatted(std::string& out, int typeFormat, KeyCode code);

// The number field of the key dialog as the original program had it; the field now
// takes any form the key-number reader takes (key_number.h) and shows `initialText` only
// as the shape of a number while it is empty.
struct EntryMask {
    std::string mask;         // in the field's own notation: "XX XX XXXXXX AAAAAA;0;_"
    std::string initialText;  // "XX XX XXXXXX 000000"
    char blank = '_';
};
EntryMask GetEntryMask(int typeFormat);
