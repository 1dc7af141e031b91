#pragma once
// MP3 to WAVE conversion of prepared word clips.
#include <string>

namespace mMADLIB {
// Decodes the MP3 file `input` into the WAVE file `output`. The decoder's result and status text
// are not examined: the caller relies only on the output file existing afterwards.
void ConvertMp3ToWav(const std::string& input, const std::string& output);
}  // namespace mMADLIB
