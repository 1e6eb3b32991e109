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

// The number field of the key dialog.
struct EntryMask {
    std::string mask;         // in the field's own notation: "XX XX XXXXXX AAAAAA;0;_"
    std::string initialText;  // "XX XX XXXXXX 000000"
    std::string qtInputMask;  // the same literals/required/optional positions for QLineEdit
    char blank = '_';
};
EntryMask GetEntryMask(int typeFormat);

// The entered value is the input positions without literals (6 or 8 characters,
// trailing unfilled ones dropped, earlier unfilled ones as spaces).
// Complete: the full length, not reading as 0, for iButton hexadecimal digits only, and
// for EM-Marine a facility of at most 255 and a number of at most 65535 (else the fields
// would overlap).
bool Complete(int typeFormat, std::string_view entered);
KeyCode Parse(int typeFormat, std::string_view entered);

// The entered value of a displayed text ("XX XX XXXXXX 12ABCD" -> "12ABCD",
// "018,43981" -> "01843981"); also accepts the bare value. For the command line.
std::string EnteredValue(int typeFormat, std::string_view text);
