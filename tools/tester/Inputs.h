#pragma once
// What the tester's text boxes hold, read the way the tester's users type them.
#include <QString>

#include <cstdint>
#include <optional>

namespace ravektester {

// A voice number: a whole number (blanks around it allowed) that fits the engine's LONG.
std::optional<int32_t> ParseVoiceNumber(const QString& text);

// The volume box: not a number at all (the prompt, a half-typed text), a number outside 1-100,
// or a volume. Numbers are decimal with an optional sign, fraction and exponent ("50", " 7.5",
// "1e2"); a fraction is rounded to the nearest whole number, halves to the even one.
struct VolumeInput {
    enum class Kind { NotNumeric, OutOfRange, Volume } What = Kind::NotNumeric;
    int16_t Percent = 0;
};
VolumeInput ParseVolume(const QString& text);

}  // namespace ravektester
