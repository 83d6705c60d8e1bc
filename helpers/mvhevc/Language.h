#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova::mvhevc {

/// The ISO 639-2/T code (three lower-case letters) a container's language tag names: a 639-2/T
/// or 639-2/B code ("fre" becomes "fra") or a common 639-1 code ("en" becomes "eng"), in any
/// case, with or without a region ("en-US"); "und" for anything else.
std::string isoLanguage(std::string_view tag);

/// True when `code` is three ASCII letters, the form of an ISO 639-2 code.
bool looksLikeIsoLanguage(std::string_view code);

/// A 639-2/T code packed as a QuickTime media header holds it: three 5-bit letters.
std::uint16_t packedLanguage(std::string_view code);

/// The BCP 47 tag for a 639-2/T code: its two-letter form where there is one, else the code.
std::string languageTag(std::string_view code);

} // namespace kestrova::mvhevc
