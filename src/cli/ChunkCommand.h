#pragma once

#include "cli/CommandLine.h"

namespace kestrova::cli {

/// `kestrova --encode-chunk PIECE MVC|- OUTPUT SETTINGS PAIRS [SUBTITLES]`:
/// one chunk job of a chunked run as a plain command, for GNU parallel on
/// other machines or any other scheduler (Slurm's `sbatch --array`). PIECE
/// and MVC are an MVC film's view pieces; a packed or frame-alternate film's
/// chunk has its one piece and "-". OUTPUT is the chunk file (its record beside
/// it), SETTINGS the picture settings line of the run (one word), PAIRS the
/// pictures expected, SUBTITLES the burn-in line of a run that burns
/// subtitles in (one word, ChunkBurnIn's; its files named from the current
/// folder). The converter's "Frame N/T" lines reach standard
/// output. Returns the exit status: 0 once the chunk holds PAIRS pictures,
/// 1 with a "kestrova: ..." line when it does not, 2 for wrong words.
int runChunkCommand(const CommandLine &line);

} // namespace kestrova::cli
