// The value of one hexadecimal digit: the one reader of them for key numbers, the
// journal's escapes and the settings file's.
#pragma once

// 0..15, or -1 for a character that is no hexadecimal digit.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
