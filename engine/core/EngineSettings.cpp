#include "EngineSettings.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "AutomationError.h"

namespace EngineSettingsReader {
namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Text -> integer as the platform's conversion does it: surrounding blanks allowed, an optional
// sign, decimal digits, or "&H" hexadecimal; a fraction is rounded half to even.
long long ParseInteger(const std::string& name, const std::string& text, long long low, long long high) {
    std::string t = Trim(text);
    auto mismatch = [&] {
        RuntimeErrors::Raise(RuntimeErrors::TypeMismatch, "setting " + name + " has the non-numeric value \"" + text + "\"");
    };
    auto overflow = [&] {
        RuntimeErrors::Raise(RuntimeErrors::Overflow, "setting " + name + " value \"" + text + "\" is out of range");
    };
    if (t.empty()) mismatch();
    if (t.size() > 2 && (t[0] == '&') && (t[1] == 'H' || t[1] == 'h')) {
        std::string digits = t.substr(2);
        if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            mismatch();
        long long v = static_cast<long long>(std::stoull(digits, nullptr, 16));
        if (digits.size() == 8 && v > INT32_MAX) v -= 0x100000000LL;  // 32-bit hex literals wrap
        if (v < low || v > high) overflow();
        return v;
    }
    size_t i = 0;
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') negative = t[i++] == '-';
    size_t digitsStart = i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
    std::string whole = t.substr(digitsStart, i - digitsStart);
    std::string fraction;
    if (i < t.size() && t[i] == '.') {
        size_t f = ++i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
        fraction = t.substr(f, i - f);
    }
    if (i != t.size() || (whole.empty() && fraction.empty())) mismatch();
    if (whole.size() > 18) overflow();
    long long v = whole.empty() ? 0 : std::stoll(whole);
    if (!fraction.empty()) {
        int firstDigit = fraction[0] - '0';
        bool beyondHalf = fraction.find_first_not_of('0', 1) != std::string::npos;
        if (firstDigit > 5 || (firstDigit == 5 && (beyondHalf || v % 2 == 1))) ++v;
    }
    if (negative) v = -v;
    if (v < low || v > high) overflow();
    return v;
}

}  // namespace

int32_t ParseMissingWordPolicy(const std::string& text) {
    std::string t = Trim(text);
    if (t.empty()) return 1;
    std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return std::tolower(c); });
    if (t == "beep") return 1;
    if (t == "spell") return 2;
    if (t == "sapi5") return 3;
    return 0;
}

int32_t ToLong(const std::string& name, const std::string& text, int32_t defaultValue) {
    if (text.empty()) return defaultValue;
    return static_cast<int32_t>(ParseInteger(name, text, INT32_MIN, INT32_MAX));
}

int16_t ToInteger(const std::string& name, const std::string& text, int16_t defaultValue) {
    if (text.empty()) return defaultValue;
    return static_cast<int16_t>(ParseInteger(name, text, INT16_MIN, INT16_MAX));
}

bool ToBoolean(const std::string& text) { return !(text.empty() || text == "0"); }

}  // namespace EngineSettingsReader
