#include "DecoderArguments.h"

namespace kestrova::helpers {

std::optional<DecoderArguments> parseDecoderArguments(const std::vector<std::string> &arguments) {
  DecoderArguments parsed;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string &option = arguments[i];
    const bool takesValue = option == "-p" || option == "-i" || option == "-o" || option == "-d" || option == "-r";
    if (!takesValue) {
      parsed.others.push_back(option);
      continue;
    }
    if (i + 1 >= arguments.size())
      return std::nullopt;
    const std::string &value = arguments[++i];
    if (option == "-i") {
      parsed.inputFile = value;
    } else if (option == "-o") {
      parsed.outputFile = value;
    } else if (option == "-p" && value.starts_with("InputFile=")) {
      parsed.inputFile = value.substr(10);
    } else if (option == "-p" && value.starts_with("OutputFile=")) {
      parsed.outputFile = value.substr(11);
    } else if (option == "-p" && value.starts_with("DecodeAllLayers=")) {
      // Always on: both views are what this program is for.
    } else {
      parsed.others.push_back(option);
      parsed.others.push_back(value);
    }
  }
  if (parsed.inputFile.empty())
    return std::nullopt;
  return parsed;
}

std::vector<std::string> decoderCommandLine(const DecoderArguments &arguments, const std::string &input,
                                            const std::string &output) {
  std::vector<std::string> line = arguments.others;
  line.insert(line.end(), {"-p", "InputFile=" + input, "-p", "OutputFile=" + output, "-p", "DecodeAllLayers=1"});
  return line;
}

} // namespace kestrova::helpers
