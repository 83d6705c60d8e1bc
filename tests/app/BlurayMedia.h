#pragma once

#include <filesystem>
#include <string>

namespace kestrova::test {

/// The two elementary streams tsMuxeR's double leaves for a disc of
/// `frames` pictures, in the form the JM decoder's double reads: access unit
/// delimiters (type 9 base, 24 MVC), a parameter set carrying
/// "W<width>H<height>" (type 7 base, 15 MVC) and slices carrying "F<frame>"
/// (types 5 and 1 base, 20 MVC). Plain text payloads, so they travel inside
/// a fake tool's JSON script unchanged.
std::string baseViewText(int frames, int width, int height);
std::string mvcViewText(int frames, int width, int height);

} // namespace kestrova::test
