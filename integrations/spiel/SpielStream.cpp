#include "SpielStream.h"

#include <cstring>

namespace ravek::spiel {
namespace {

void Append(std::string& out, uint32_t value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof bytes);
}

}  // namespace

std::string StreamHeader() { return kStreamVersion; }

std::string AudioChunk(const int16_t* samples, std::size_t count) {
    std::string out(1, '\x01');
    Append(out, static_cast<uint32_t>(count * sizeof(int16_t)));
    out.append(reinterpret_cast<const char*>(samples), count * sizeof(int16_t));
    return out;
}

std::string EventChunk(EventType type, uint32_t start, uint32_t end, const std::string& name) {
    std::string out(1, '\x02');
    out += static_cast<char>(type);
    Append(out, start);
    Append(out, end);
    Append(out, static_cast<uint32_t>(name.size()));
    return out + name;
}

}  // namespace ravek::spiel
