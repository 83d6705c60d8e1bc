#pragma once

#include "SubtitleBurner.h"

#include <string_view>

namespace kestrova::subtitles {

/// Takes one burn-in option and its value into `options`: `--subtitles FILE.sup`,
/// `--subtitle-offsets VIEW` (the demuxed MVC view), `--subtitle-plane K` (0..31),
/// `--subtitle-depth PIXELS` (-128..127, of a 1920-wide picture), `--subtitle-first-frame N`
/// (the film's display frame the first pair is, for a chunk of it). False when `arg` is none of
/// them; throws std::invalid_argument with a message for the user on a bad value.
bool applyBurnInOption(std::string_view arg, std::string_view value, BurnInOptions &options);

/// Throws std::invalid_argument when depth options were given without `--subtitles`.
void checkBurnInOptions(const BurnInOptions &options);

/// `NUM` or `NUM/DEN`, both positive.
std::optional<std::pair<int, int>> parseFrameRate(std::string_view text);

} // namespace kestrova::subtitles
