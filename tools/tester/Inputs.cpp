#include "Inputs.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace ravektester {

std::optional<int32_t> ParseVoiceNumber(const QString& text) {
    bool isNumber = false;
    const qlonglong number = text.trimmed().toLongLong(&isNumber);
    if (!isNumber || number < INT32_MIN || number > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(number);
}

VolumeInput ParseVolume(const QString& text) {
    static const QRegularExpression decimal(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QString trimmed = text.trimmed();
    if (!decimal.match(trimmed).hasMatch()) return {};
    bool isNumber = false;
    const double value = QLocale::c().toDouble(trimmed, &isNumber);
    if (!isNumber || !std::isfinite(value)) return {VolumeInput::Kind::OutOfRange, 0};
    const double rounded = std::nearbyint(value);  // the default rounding mode sends halves to even
    if (rounded < 1 || rounded > 100) return {VolumeInput::Kind::OutOfRange, 0};
    return {VolumeInput::Kind::Volume, static_cast<int16_t>(rounded)};
}

}  // namespace ravektester
