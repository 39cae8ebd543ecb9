// GetP2S_VerInfo: the version stamp reader.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ports/Ports.h"

namespace p2 {

inline constexpr const char* kStampQueryCurrent =
    "SELECT InfoKey, InfoValue From T00_製品情報 WHERE InfoKey='Version';";
inline constexpr const char* kStampQueryOlder =
    "SELECT InfoKey, InfoValue From DB情報 WHERE InfoKey='Version';";

// The database's version stamp as a number: -1 for a missing file, a missing stamp or a
// reported error; 0 when the database holds neither stamp table.
int32_t GetP2S_VerInfo(Ports& ports, const std::string& path);

// A stamp's text as a number: "[A-Z][A-Z]###" gives its three digits; any other text is
// read whole as a 32-bit integer (blanks around it and a sign allowed, a fraction rounded
// half to even). Throws AppError 13 for text that is no number, 6 for one out of range.
int32_t StampNumber(const std::string& stamp);

// A field's value as text; Null is not text and is handled by the caller.
std::string FieldText(const FieldValue& value);

}  // namespace p2
