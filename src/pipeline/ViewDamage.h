#pragma once

#include "core/Errors.h"
#include "pipeline/ViewDiscovery.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::pipeline {

class PipelineEngine;

/// A stretch of the 3D view that no decoder could read: pictures `first` up
/// to, not including, `end`, in display order from 0.
struct LostStretch {
  std::int64_t first = 0;
  std::int64_t end = 0;
  std::string reason; ///< the decoder's words
  bool operator==(const LostStretch &) const = default;
};

/// What a locating decode found in a source's two views.
struct ViewDamage {
  std::vector<LostStretch> lost;
  std::int64_t pictures = 0; ///< pictures of the base view
  bool operator==(const ViewDamage &) const = default;
};

/// Reads the standard error of `edge264-pipe --locate`: its "lost pairs A to
/// B: REASON" lines and its closing "N pictures" line. Other lines are
/// skipped.
ViewDamage parseLocateReport(std::string_view text);

/// Decodes the two view files once more with the fast decoder, writing
/// nothing, to find the stretches it cannot read, as the engine's current
/// process (cancel() ends it). None when that decoder is not installed, was
/// ended, or found no lost stretch.
std::optional<ViewDamage> locateViewDamage(PipelineEngine &engine, const std::filesystem::path &base,
                                           const std::filesystem::path &mvc);

/// `seconds` as H:MM:SS.ss, the form the damage and length messages use.
std::string pictureTimeText(double seconds);

/// The user's words for `damage` at `framesPerSecond`: "the 3D view is
/// damaged from 0:00:00.50 to 0:00:01.00 (pictures 12 to 24 of 24)", one
/// "from … to …" per stretch.
std::string damageText(const ViewDamage &damage, double framesPerSecond);

/// The error that ends a run whose 3D view no decoder could read, in words:
/// the lost stretches in time when the fast decoder finds them (the views
/// must still be there), else that the 3D view is damaged. `decoders` is
/// what the decoders said, kept at the end for diagnosis.
ConversionError damagedViewError(PipelineEngine &engine, const ViewFiles &views, double framesPerSecond,
                                 const std::string &decoders);

} // namespace kestrova::pipeline
