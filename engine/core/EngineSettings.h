#pragma once
// Every registry and INI setting the engine reads at start-up, with its default.
#include <cstdint>
#include <string>

struct EngineSettings {
    // Registry, main key "Software\RavekVoice"
    std::string MyRecordsPath;
    std::string ApplicationPath;
    int32_t SequenceLen = 4;
    int32_t TimeBetweenMyFoldersCheck = 60;
    std::string SystemVoicePath;
    std::string LogLocation;
    int16_t LogLevel = 99;
    int32_t PlaybackAccelerationRate = 0;
    bool ConvertMP32WAV = false;
    bool AvoidShortNames = false;
    std::string AudioSink;  // GStreamer sink description; "" = autoaudiosink (or $RAVEK_AUDIO_SINK)
    // Registry, language key
    std::string ParametersINIFileName;
    std::string MaleVoiceName;
    std::string FemaleVoiceName;
    std::string MaleVoiceName1;
    std::string FemaleVoiceName1;
    // INI file
    int32_t MissingWordPolicy = 1;
    std::string MissingWordSignal;
    std::string PreSpellWord;

    std::string IniPath() const { return ApplicationPath + "/" + ParametersINIFileName; }
    std::string DictionaryFolder() const { return ApplicationPath + "/RavekDictionary/"; }
};

namespace EngineSettingsReader {
// "beep"/"" -> 1, "spell" -> 2, "sapi5" -> 3, anything else -> 0 (trimmed, case ignored).
int32_t ParseMissingWordPolicy(const std::string& text);
// Empty -> default; otherwise the whole text must be an integer in range, else error 13
// (type mismatch) or 6 (overflow) naming the setting and its value.
int32_t ToLong(const std::string& name, const std::string& text, int32_t defaultValue);
int16_t ToInteger(const std::string& name, const std::string& text, int16_t defaultValue);
// False when "0" or empty, else true.
bool ToBoolean(const std::string& text);
}  // namespace EngineSettingsReader
