#include "ModuleProtocol.h"

#include <glib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>

namespace sdravek {
namespace {

constexpr char kEscape = 0x7D;
constexpr char kInvert = 0x20;

bool ParseInt(const std::string& text, int low, int high, int& out) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || p != end || value < low || value > high) return false;
    out = value;
    return true;
}

bool OneOf(const std::string& value, std::initializer_list<const char*> choices) {
    for (const char* choice : choices)
        if (value == choice) return true;
    return false;
}

// A configuration value: a double-quoted string (\" and \\ escaped) or a bare word.
std::string ConfigValue(const std::string& rest) {
    size_t p = rest.find_first_not_of(" \t");
    if (p == std::string::npos) return {};
    if (rest[p] != '"') {
        const size_t end = rest.find_first_of(" \t\r", p);
        return rest.substr(p, end == std::string::npos ? std::string::npos : end - p);
    }
    std::string value;
    for (++p; p < rest.size() && rest[p] != '"'; ++p) {
        if (rest[p] == '\\' && p + 1 < rest.size()) ++p;
        value += rest[p];
    }
    return value;
}

}  // namespace

std::string AudioBlock(const int16_t* samples, std::size_t count) {
    std::string block = "705-bits=16\n705-num_channels=1\n705-sample_rate=" + std::to_string(kSampleRate) +
                        "\n705-num_samples=" + std::to_string(count) + "\n705-big_endian=0\n705-AUDIO";
    block += '\0';
    block.reserve(block.size() + count * 2 + count / 64 + 16);
    for (std::size_t i = 0; i < count; ++i) {
        const auto sample = static_cast<uint16_t>(samples[i]);
        for (const char byte : {static_cast<char>(sample & 0xFF), static_cast<char>(sample >> 8)}) {
            if (byte == '\n' || byte == kEscape) {
                block += kEscape;
                block += static_cast<char>(byte ^ kInvert);
            } else {
                block += byte;
            }
        }
    }
    block += "\n705 AUDIO\n";
    return block;
}

std::string UnescapeAudio(const std::string& escaped) {
    std::string bytes;
    bytes.reserve(escaped.size());
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == kEscape && i + 1 < escaped.size()) bytes += static_cast<char>(escaped[++i] ^ kInvert);
        else bytes += escaped[i];
    }
    return bytes;
}

bool ApplySetting(VoiceSettings& settings, const std::string& name, const std::string& value,
                  const std::vector<ravek::integration::VoiceInfo>& voices) {
    if (name == "rate") return ParseInt(value, -100, 100, settings.rate);
    if (name == "volume") return ParseInt(value, -100, 100, settings.volume);
    if (name == "pitch") return ParseInt(value, -100, 100, settings.pitch);
    int ignored = 0;
    if (name == "pitch_range") return ParseInt(value, -100, 100, ignored);
    if (name == "punctuation_mode") return OneOf(value, {"none", "all", "some", "most"});
    if (name == "spelling_mode") return OneOf(value, {"on", "off"});
    if (name == "cap_let_recogn") return OneOf(value, {"none", "spell", "icon"});
    if (name == "voice") {
        if (!OneOf(value, {"male1", "male2", "male3", "female1", "female2", "female3", "child_male", "child_female",
                           "unknown", "NULL"}))
            return false;
        settings.voiceType = value;
        return true;
    }
    if (name == "synthesis_voice") {
        if (value == "NULL") {
            settings.synthesisVoice.clear();
            return true;
        }
        if (ravek::integration::VoiceByName(voices, value) == 0) return false;
        settings.synthesisVoice = value;
        return true;
    }
    if (name == "language") {
        settings.language = value == "NULL" ? "" : value;
        return true;
    }
    return false;
}

int32_t VoiceOf(const VoiceSettings& settings, const std::vector<ravek::integration::VoiceInfo>& voices,
                int32_t defaultVoice) {
    if (!settings.synthesisVoice.empty())
        if (const int32_t named = ravek::integration::VoiceByName(voices, settings.synthesisVoice)) return named;
    const std::string& type = settings.voiceType;
    if (type == "female1" || type == "female3" || type == "child_female") return 4;
    if (type == "male2") return 1;
    if (type == "female2") return 2;
    if (type == "male3" || type == "child_male") return 3;
    return defaultVoice;
}

std::string VariantOf(const ravek::integration::VoiceInfo& voice) {
    return std::string(voice.male ? "male" : "female") + (voice.dictionary ? "1" : "2");
}

double GainOfVolume(int volume) { return (std::clamp(volume, -100, 100) + 100) / 200.0; }

ModuleConfig ReadModuleConfig(const std::string& path, std::string& error) {
    ModuleConfig config;
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path + "; using the defaults";
        return config;
    }
    for (std::string line; std::getline(in, line);) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        const size_t nameEnd = line.find_first_of(" \t", start);
        const std::string name = line.substr(start, nameEnd == std::string::npos ? std::string::npos : nameEnd - start);
        const std::string rest = nameEnd == std::string::npos ? "" : line.substr(nameEnd);
        if (g_ascii_strcasecmp(name.c_str(), "RavekRegistry") == 0) config.registry = ConfigValue(rest);
        else if (g_ascii_strcasecmp(name.c_str(), "RavekDefaultVoice") == 0) config.defaultVoice = ConfigValue(rest);
    }
    return config;
}

}  // namespace sdravek
