#include "Voices.h"

#include <glib.h>

namespace ravek::integration {

std::vector<VoiceInfo> ListVoices(const Renderer& renderer) {
    std::vector<VoiceInfo> voices;
    for (int32_t number = 1; number <= 4; ++number) {
        VoiceInfo voice{number, renderer.VoiceName(number), number % 2 == 1, number >= 3};
        if (!voice.name.empty()) voices.push_back(voice);
    }
    return voices;
}

int32_t VoiceByName(const std::vector<VoiceInfo>& voices, const std::string& name) {
    for (const VoiceInfo& voice : voices)
        if (g_ascii_strcasecmp(voice.name.c_str(), name.c_str()) == 0) return voice.number;
    return 0;
}

}  // namespace ravek::integration
