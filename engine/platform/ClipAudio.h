#pragma once
// Audio clips decoded in memory for rendering: the bytes of an MP3 or WAVE recording become mono
// 16-bit samples at the render rate, and a run of samples can be played faster or slower with
// its pitch kept. MP3 at the render rate and 16-bit PCM WAVE at the render rate are decoded
// directly; anything else goes through a GStreamer conversion (decodebin, resampling).
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ClipAudio {

inline constexpr int kRate = 22050;

// Mono samples at kRate (two channels are averaged). Nothing when the bytes hold no sound that
// can be decoded; `reason` then says why.
std::optional<std::vector<int16_t>> DecodeMono(const std::vector<char>& bytes, std::string& reason);

// The samples played at `tempo` times their speed (0.1 to 10) with the pitch kept, through
// GStreamer's pitch element, as a media device does at a speed other than 1000. Nothing when the
// conversion fails or `cancel` becomes true while it runs.
std::optional<std::vector<int16_t>> ChangeTempo(const std::vector<int16_t>& samples, double tempo,
                                                const std::atomic<bool>& cancel, std::string& reason);

}  // namespace ClipAudio
