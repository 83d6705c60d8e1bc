#pragma once

#include "MovWriter.h"
#include "NalUnit.h"
#include "SoundTracks.h"

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace kestrova::mvhevc {

/// A chunk that cannot be joined: cut short, corrupt, or encoded otherwise than the first.
class ChunkError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// One chunk as ChunkWriter wrote it, checked against its record.
struct ChunkContents {
  int width = 0, height = 0, rateNum = 0, rateDen = 1;
  std::vector<NalBytes> headers; ///< the encoder's parameter sets and messages, in front
  struct Sample {
    std::vector<NalBytes> nals;
    VideoSampleInfo info; ///< presentation index within the chunk
  };
  std::vector<Sample> samples; ///< decoding order
};

/// Reads the chunk `path` and its record `path`.frames. Throws ChunkError naming the chunk when
/// the record is missing or incomplete, the stream is shorter or longer than the record says,
/// a sample does not start where the record says, the first picture is not a key frame or the
/// presentation order is not a permutation of the chunk's pictures.
ChunkContents readChunk(const std::string &path);

/// What joinChunks puts together.
struct JoinRequest {
  std::vector<std::string> chunks; ///< in film order
  std::string output;
  std::vector<AudioRequest> audio;
  std::string chapters;
  StereoMetadata stereo;
};

/// Joins the chunks, without encoding them again, into one movie with the sound tracks and
/// chapters the request names, as a run over the whole film would have written it. Every chunk is
/// checked before the movie is started: a chunk that is not whole, or whose parameter sets or
/// picture format differ from the first chunk's, is refused by name (ChunkError). The movie is
/// written under a temporary name and renamed when complete.
void joinChunks(const JoinRequest &request, std::ostream &notes, std::stop_token stop);

} // namespace kestrova::mvhevc
