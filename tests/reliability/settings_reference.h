// An independent model of how a settings value becomes a number, written
// from the documented behaviour rather than from the program's code: the
// reader copies at most nine characters, the text ends at its first NUL, and
// the decimal conversion skips white space, takes one sign and then digits.
#pragma once

#include "exhibit.h"

#include <cstdint>
#include <string>

namespace reliability {

// The decimal conversion of the text up to its first NUL; for texts of up to
// 18 characters, which cannot overflow.
int64_t ReferenceDecimal(const std::string& text);

// The number a value the INI reader returned turns into: its first nine
// characters, converted.
int32_t ReferenceSetting(const std::string& readerValue);

// The keys in the order of ExhibitSettings' fields, and a field by key index.
extern const char* const kSettingKeys[7];
int32_t& Field(ExhibitSettings& s, int key);
int32_t Field(const ExhibitSettings& s, int key);

std::string Describe(const ExhibitSettings& s);

} // namespace reliability
