#pragma once

#include <string>

namespace kestrova::test {

/// Annex B elementary streams of `frames` access units the way tsMuxeR
/// writes them: the base view opened by delimiters of type 9, the MVC view
/// by type 24. The base view starts with a real sequence parameter set (the
/// streaming decoder reads the picture size from it); the MVC view's subset
/// parameter set carries "W<width>H<height>" for the JM decoder's double.
/// Slices carry "F<frame>". Sizes that are not multiples of 16 are coded
/// as the next multiple and cropped, as 1080p discs are. With
/// `idrInterval` above 0 an IDR picture, with the parameter sets before it,
/// opens every `idrInterval` frames, where a stream can be split.
std::string baseViewStream(int frames, int width, int height, int idrInterval = 0);
std::string mvcViewStream(int frames, int width, int height, int idrInterval = 0);

/// A High-profile 4:2:0 8-bit sequence parameter set NAL unit (start code
/// included) for pictures of `width` x `height`.
std::string sequenceParameterSet(int width, int height);

} // namespace kestrova::test
