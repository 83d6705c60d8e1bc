#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrova::helpers {

/// ldecod's command line as ldecod-pipe received it, with the three settings
/// it takes over.
struct DecoderArguments {
  std::string inputFile;           ///< InputFile (or -i): the stream to decode
  std::string outputFile;          ///< OutputFile (or -o); only its folder is used
  std::vector<std::string> others; ///< every other argument, in order
};

/// Splits ldecod's arguments ("-p Key=Value" pairs and the short forms
/// "-i FILE" / "-o FILE"). No value when an option lacks its value or no
/// input file is named.
std::optional<DecoderArguments> parseDecoderArguments(const std::vector<std::string> &arguments);

/// The arguments for the real decoder: the other arguments unchanged, then
/// "-p InputFile=<input>", "-p OutputFile=<output>", "-p DecodeAllLayers=1".
std::vector<std::string> decoderCommandLine(const DecoderArguments &arguments, const std::string &input,
                                            const std::string &output);

} // namespace kestrova::helpers
