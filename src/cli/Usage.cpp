#include "cli/Usage.h"

#include "pipeline/PipelineEngine.h"

#include <fmt/format.h>

#ifndef KESTROVA_VERSION
#error "the build defines KESTROVA_VERSION"
#endif

namespace kestrova::cli {

std::string helpText() {
  // Kept in step with the manual page (data/kestrova.1); a test compares the
  // option lists of the two.
  return R"(Usage: kestrova [--input FILE] [--output DIR]
       kestrova --input FILE --auto-convert [--output DIR] [--duration SECONDS] [--overwrite]
       kestrova --help | --version

Converts stereoscopic 3D video (Blu-ray 3D H.264 MVC streams, frame-alternate
and side-by-side files) into a Full Side-by-Side 3D file or MV-HEVC spatial
video for Apple Vision Pro. Without --auto-convert the window opens, with FILE
queued when --input is given.

Options:
  --input FILE        the source: .m2ts, .ts, .mkv, .mp4 or .mov
  --output DIR        the folder for the result (default: ~/Desktop/Kestrova Output)
  --auto-convert      convert FILE without a window, printing timestamped progress
  --duration SECONDS  convert only the first SECONDS of the source
  --overwrite         do not refuse when the output file exists; replace it
  -h, --help          print this help and exit
      --version       print the version and build number and exit

Quality and target come from the settings the window stores in
$XDG_CONFIG_HOME/kestrova/settings.json (default ~/.config/kestrova/settings.json).
The tools (ffmpeg, ffprobe, tsmuxer, ldecod, MVHEVCConverter...) are looked for
first in the tools folder beside the program, PREFIX/share/kestrova/tools.

Exit status: 0 on success, 1 when the input is missing or the conversion fails.
Manual: man kestrova
)";
}

std::string versionText() {
  return fmt::format("Kestrova {} (Build {})", KESTROVA_VERSION, pipeline::PipelineEngine::kBuildNumber);
}

} // namespace kestrova::cli
