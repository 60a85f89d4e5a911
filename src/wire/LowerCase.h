#pragma once
// Letter case over the client's single-byte character set (Windows-1252).

#include <string_view>

namespace stonecall {

// The lower-case form of one code. Folded: A-Z, the Latin-1 capitals at 0xC0-0xDE except
// the multiplication sign 0xD7, and the four Windows-1252 capitals S, Z and OE with caron or
// ligature (0x8A, 0x8E, 0x8C) and Y with diaeresis (0x9F, whose small form is 0xFF).
// Every other code, sharp s and micro sign included, stays as it is.
unsigned char lowerCase(unsigned char c);

// True when the texts are equal after lower-casing every code.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

} // namespace stonecall
