#pragma once

#include "pipeline/ChunkJob.h"
#include "pipeline/EncoderTable.h"
#include "pipeline/SbsPipeDecode.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::pipeline {

struct PipelineRun;

/// Whether `output` is a full side-by-side chunk (a segment for ffmpeg's concat).
bool isSideBySideChunk(ChunkOutput output);

/// The chunk output and quality words of a full side-by-side film written to
/// `finalOutput`: HEVC where every side-by-side encode of that file uses it
/// (a .mov, or the H.265 codec), the preset by its case name.
void setSideBySideChunkOutput(ChunkPictureSettings &picture, QualityPreset preset, OutputCodec codec,
                              const std::filesystem::path &finalOutput);

/// yuv_hstack and ffmpeg for one side-by-side chunk: the first `pairs` of the
/// decoded pairs on the stacker's standard input (a piece cut before an open
/// GOP goes on past them), encoded by ffmpeg (pictures only) into the MP4
/// segment `output` with the video words of the streamed one-piece encode,
/// through `encoders`.
SideBySideEncode segmentEncode(const ChunkPictureSettings &picture, std::int64_t pairs,
                               const std::filesystem::path &output, const ChunkJobTools &tools,
                               const EncoderTable &encoders);

/// Writes `segment`.frames, the record of a finished segment ("view
/// side-by-side", one line per picture as ffprobe lists it, "frames N"),
/// through a temporary file, so that a crash leaves none or a whole one.
/// Throws ConversionError::encodingFailed when ffprobe cannot read the segment.
void writeSegmentRecord(const std::string &ffprobe, const std::filesystem::path &segment);

/// Joins `segments` (`pictures` in all) in order through ffmpeg's concat
/// without encoding them again into `output`, with the sound, chapters (and
/// for Matroska the subtitles) of the run's track source and the stream tags,
/// as the one-piece side-by-side encode carries them; the sound ends where
/// the pictures end, at the sound frame the one-piece encode ends it. The
/// segment list is written into `folder`. Throws ConversionError
/// (encodingFailed with ffmpeg's words, cancelled, toolNotFound).
void joinSegments(PipelineRun &run, const std::vector<std::filesystem::path> &segments, std::int64_t pictures,
                  const std::filesystem::path &folder, const std::filesystem::path &output);

} // namespace kestrova::pipeline
