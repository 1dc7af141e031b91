#pragma once
// MP3 to WAVE conversion of prepared word clips.
#include <cstdint>
#include <string>

namespace mMADLIB {
// Decodes the MP3 file `input` into the WAVE file `output`. Returns the decoder's result
// (CbMpegAudioDecoder: 0 done, 1 input missing, 2 not MP3, 3 output not writable); the status
// text is not examined.
int32_t ConvertMp3ToWav(const std::string& input, const std::string& output);
}  // namespace mMADLIB
