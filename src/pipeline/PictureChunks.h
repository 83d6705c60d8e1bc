#pragma once

#include "pipeline/ChunkPlan.h"
#include "pipeline/PipelineRun.h"

#include <string>

namespace kestrova::pipeline {

/// Where the coded pictures of a stream can be cut, from ffprobe's list of
/// its packets (`-show_entries packet=pts,flags -of compact=p=0`, one
/// `pts=…|flags=…` line each, in decoding order): see keyFrameCuts.
FilmCuts packetListCuts(const std::string &packets, int picturesPerUnit);

/// A source of packed or alternate pictures to Vision Pro in chunks, without
/// a side-by-side file in between. The source's own coded pictures are cut
/// by ffmpeg's segment muxer (stream copy, no encode) at key frames from
/// which a piece decodes on its own, for alternate pictures only between
/// pairs; each piece is encoded on its own by MVHEVCConverter --chunk (read
/// as it is packed, or its pictures decoded by ffmpeg and handed over as
/// pairs), K at once and resumable as an MVC film's chunks; the chunks are
/// joined by MVHEVCConverter --join with the source's sound, encoded once
/// over the whole film. Throws ConversionError (toolNotFound, decodingFailed
/// when the source cannot be read or cut, encodingFailed naming the chunk,
/// cancelled).
ConversionResult runChunkedPictures(PipelineRun &run);

} // namespace kestrova::pipeline
