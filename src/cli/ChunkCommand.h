#pragma once

#include "cli/CommandLine.h"

namespace kestrova::cli {

/// `kestrova --encode-chunk BASE MVC OUTPUT SETTINGS PAIRS [SUBTITLES]`: one
/// chunk job of a chunked run as a plain command, for GNU parallel on other
/// machines or any other scheduler (Slurm's `sbatch --array`). BASE and MVC
/// are the chunk's view pieces, OUTPUT the chunk file (its record beside
/// it), SETTINGS the picture settings line of the run (one word), PAIRS the
/// pictures expected, SUBTITLES the burn-in line of a run that burns
/// subtitles in (one word, ChunkBurnIn's; its files named from the current
/// folder). The converter's "Frame N/T" lines reach standard
/// output. Returns the exit status: 0 once the chunk holds PAIRS pictures,
/// 1 with a "kestrova: ..." line when it does not, 2 for wrong words.
int runChunkCommand(const CommandLine &line);

} // namespace kestrova::cli
