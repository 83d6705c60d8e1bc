#include "Language.h"

#include <algorithm>
#include <array>
#include <utility>

namespace kestrova::mvhevc {
namespace {

using Pair = std::pair<std::string_view, std::string_view>;

// Bibliographic codes that differ from the terminological ones a movie header takes.
constexpr std::array kBibliographic = {
    Pair{"alb", "sqi"}, Pair{"arm", "hye"}, Pair{"baq", "eus"}, Pair{"bur", "mya"}, Pair{"chi", "zho"},
    Pair{"cze", "ces"}, Pair{"dut", "nld"}, Pair{"fre", "fra"}, Pair{"geo", "kat"}, Pair{"ger", "deu"},
    Pair{"gre", "ell"}, Pair{"ice", "isl"}, Pair{"mac", "mkd"}, Pair{"mao", "mri"}, Pair{"may", "msa"},
    Pair{"per", "fas"}, Pair{"rum", "ron"}, Pair{"slo", "slk"}, Pair{"tib", "bod"}, Pair{"wel", "cym"},
};

// Two-letter codes of the languages films are commonly dubbed or subtitled in.
constexpr std::array kTwoLetter = {
    Pair{"ar", "ara"}, Pair{"bg", "bul"}, Pair{"bn", "ben"}, Pair{"ca", "cat"}, Pair{"cs", "ces"}, Pair{"cy", "cym"},
    Pair{"da", "dan"}, Pair{"de", "deu"}, Pair{"el", "ell"}, Pair{"en", "eng"}, Pair{"es", "spa"}, Pair{"et", "est"},
    Pair{"eu", "eus"}, Pair{"fa", "fas"}, Pair{"fi", "fin"}, Pair{"fr", "fra"}, Pair{"ga", "gle"}, Pair{"gl", "glg"},
    Pair{"he", "heb"}, Pair{"hi", "hin"}, Pair{"hr", "hrv"}, Pair{"hu", "hun"}, Pair{"hy", "hye"}, Pair{"id", "ind"},
    Pair{"is", "isl"}, Pair{"it", "ita"}, Pair{"ja", "jpn"}, Pair{"ka", "kat"}, Pair{"ko", "kor"}, Pair{"lt", "lit"},
    Pair{"lv", "lav"}, Pair{"mk", "mkd"}, Pair{"ms", "msa"}, Pair{"nb", "nob"}, Pair{"nl", "nld"}, Pair{"nn", "nno"},
    Pair{"no", "nor"}, Pair{"pl", "pol"}, Pair{"pt", "por"}, Pair{"ro", "ron"}, Pair{"ru", "rus"}, Pair{"sk", "slk"},
    Pair{"sl", "slv"}, Pair{"sq", "sqi"}, Pair{"sr", "srp"}, Pair{"sv", "swe"}, Pair{"ta", "tam"}, Pair{"te", "tel"},
    Pair{"th", "tha"}, Pair{"tr", "tur"}, Pair{"uk", "ukr"}, Pair{"ur", "urd"}, Pair{"vi", "vie"}, Pair{"zh", "zho"},
};

std::string lowerLetters(std::string_view text) {
  std::string lower;
  for (const char c : text) {
    if (c >= 'A' && c <= 'Z') {
      lower += static_cast<char>(c - 'A' + 'a');
    } else if (c >= 'a' && c <= 'z') {
      lower += c;
    } else {
      return {};
    }
  }
  return lower;
}

} // namespace

bool looksLikeIsoLanguage(std::string_view code) {
  return code.size() == 3 && lowerLetters(code).size() == 3;
}

std::string isoLanguage(std::string_view tag) {
  const auto lower = lowerLetters(tag.substr(0, tag.find_first_of("-_"))); // "en-US" names English
  const auto find = [&lower](const auto &table) {
    return std::find_if(table.begin(), table.end(), [&lower](const Pair &p) { return p.first == lower; });
  };
  if (lower.size() == 3) {
    const auto found = find(kBibliographic);
    return found != kBibliographic.end() ? std::string(found->second) : lower;
  }
  if (lower.size() == 2) {
    if (const auto found = find(kTwoLetter); found != kTwoLetter.end()) {
      return std::string(found->second);
    }
  }
  return "und";
}

std::uint16_t packedLanguage(std::string_view code) {
  std::uint16_t packed = 0;
  for (const char c : code.substr(0, 3)) {
    packed = static_cast<std::uint16_t>((packed << 5) | ((c - 0x60) & 0x1F));
  }
  return packed;
}

std::string languageTag(std::string_view code) {
  const auto found =
      std::find_if(kTwoLetter.begin(), kTwoLetter.end(), [code](const Pair &p) { return p.second == code; });
  return std::string(found != kTwoLetter.end() ? found->first : code);
}

} // namespace kestrova::mvhevc
