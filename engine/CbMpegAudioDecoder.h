#pragma once
// The MP3 decoder the engine calls to turn a recording into a WAVE file.
#include <cstddef>
#include <cstdint>

// Decodes the MP3 file `input` to 16-bit PCM and writes a canonical RIFF/WAVE file at `output`
// (written to a temporary file beside it, then renamed into place, so a reader never sees half a
// file and a failed call leaves nothing behind). Encoder delay and padding announced by the
// encoder's tag are trimmed. A message of at most kDecoderStatusSize - 1 characters is written
// to `status` when it is not null. Paths are UTF-8 file system paths.
// Result: 0 on success; 1 input missing or unreadable; 2 not decodable MP3 data; 3 output not
// writable.
inline constexpr std::size_t kDecoderStatusSize = 500;
int32_t CbMpegAudioDecoder(const char* input, const char* output, char* status);
