#pragma once
// The MP3 decoder the engine calls to turn a recording into a WAVE file.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Decodes the MP3 file `input` to 16-bit PCM and writes a canonical RIFF/WAVE file at `output`
// (written to a temporary file beside it, then renamed into place, so a reader never sees half a
// file and a failed call leaves nothing behind). Encoder delay and padding announced by the
// encoder's tag are trimmed. A message of at most kDecoderStatusSize - 1 characters is written
// to `status` when it is not null. Paths are UTF-8 file system paths.
// Result: 0 on success; 1 input missing or unreadable; 2 not decodable MP3 data; 3 output not
// writable.
inline constexpr std::size_t kDecoderStatusSize = 500;
int32_t CbMpegAudioDecoder(const char* input, const char* output, char* status);

// A whole MP3 file decoded into memory: interleaved 16-bit samples at the file's own rate, with
// the same gapless trimming. Nothing when the file cannot be opened, is not MP3, changes its
// format part way, or holds no sound.
struct DecodedMp3 {
    long rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;
};
std::optional<DecodedMp3> DecodeMp3File(const std::string& input);
// The same for MP3 data held in memory (a clip read from a dictionary binary file): the bytes are
// read through a seekable in-memory stream, so the gapless trimming is that of a file.
std::optional<DecodedMp3> DecodeMp3Bytes(const void* data, std::size_t size);
