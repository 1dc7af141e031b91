#pragma once
// Pieces of speech-dispatcher's output-module conversation that need no engine: the audio block
// with its byte escaping, the voice settings of SET and the module's configuration file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Voices.h"

namespace sdravek {

constexpr int kSampleRate = 22050;

// One "705" audio block of 16-bit mono little-endian samples at 22,050 Hz. Inside the sample
// bytes a newline (0x0A) and the escape byte (0x7D) are each sent as 0x7D followed by the byte
// with bit 5 inverted, so that the block stays one protocol line.
std::string AudioBlock(const int16_t* samples, std::size_t count);
// The reverse of the escaping (for tests and tools reading the stream).
std::string UnescapeAudio(const std::string& escaped);

// What SET carries and the module uses.
struct VoiceSettings {
    int rate = 0;     // -100 to 100: half to double speed, 0 the engine's own speed
    int volume = 100; // -100 to 100: silent to the engine's full level
    int pitch = 0;    // accepted and ignored: recorded words keep their pitch
    std::string voiceType = "male1";  // male1, female1, male2, female2, ... (the server's names)
    std::string synthesisVoice;       // a voice name; empty: chosen by voiceType
    std::string language = "he";
};

// Applies one "name=value" line of a SET block. False for an unknown name or a value out of range;
// a value the engine does not use (punctuation mode...) is accepted when well-formed.
bool ApplySetting(VoiceSettings& settings, const std::string& name, const std::string& value,
                  const std::vector<ravek::integration::VoiceInfo>& voices);

// The engine voice (1 to 4) for the settings: the named voice, else the voice of the voice type;
// male1 (the server's default type) takes `defaultVoice`.
int32_t VoiceOf(const VoiceSettings& settings, const std::vector<ravek::integration::VoiceInfo>& voices,
                int32_t defaultVoice);
// The voice list's variant of a voice: male1 / female1 for the dictionary voices, male2 / female2
// for the recordings-only voices.
std::string VariantOf(const ravek::integration::VoiceInfo& voice);
// The render gain of a volume: -100 silent, 0 half, 100 the engine's full level.
double GainOfVolume(int volume);

// The module's configuration file (the server passes its path as the first argument):
//   RavekRegistry "/etc/ravek/registry.reg"
//   RavekDefaultVoice "Galev"
// Other options (the server's own, e.g. Debug) and comments (#) are ignored.
struct ModuleConfig {
    std::string registry;      // empty: $RAVEK_REGISTRY, then the engine's default path
    std::string defaultVoice;  // empty: the male dictionary voice
};
// Reads the file; a missing file gives the defaults. `error` tells what could not be read.
ModuleConfig ReadModuleConfig(const std::string& path, std::string& error);

}  // namespace sdravek
