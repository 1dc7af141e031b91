#pragma once
// The engine's four voices as speech frameworks list them: by the names the registry gives them.
#include <cstdint>
#include <string>
#include <vector>

#include "Renderer.h"

namespace ravek::integration {

struct VoiceInfo {
    int32_t number = 0;       // 1 to 4, as the engine selects it
    std::string name;         // MaleVoiceName, FemaleVoiceName, MaleVoiceName1, FemaleVoiceName1
    bool male = true;
    bool dictionary = false;  // voices 3 and 4 speak from the dictionary; 1 and 2 from recordings only
};

// The voices the registry names, in the engine's order; a voice without a name is left out.
std::vector<VoiceInfo> ListVoices(const Renderer& renderer);
// The voice of a name (compared without regard to ASCII case) among `voices`, or 0.
int32_t VoiceByName(const std::vector<VoiceInfo>& voices, const std::string& name);

}  // namespace ravek::integration
