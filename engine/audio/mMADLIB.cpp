#include "mMADLIB.h"

#include <array>

#include "CbMpegAudioDecoder.h"

namespace mMADLIB {

int32_t ConvertMp3ToWav(const std::string& input, const std::string& output) {
    // File names on this platform are UTF-8 byte strings and go to the decoder unchanged.
    std::array<char, kDecoderStatusSize> status{};
    return CbMpegAudioDecoder(input.c_str(), output.c_str(), status.data());
}

}  // namespace mMADLIB
