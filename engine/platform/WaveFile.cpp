#include "WaveFile.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace WaveFile {
namespace {

constexpr int kBytesPerSample = 2;

void PutLittleEndian(unsigned char* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t Le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

std::array<unsigned char, kHeaderSize> Header(long rate, int channels, uint32_t dataBytes) {
    std::array<unsigned char, kHeaderSize> h{};
    std::memcpy(&h[0], "RIFF", 4);
    PutLittleEndian(&h[4], 36 + dataBytes, 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    PutLittleEndian(&h[16], 16, 4);  // size of the format chunk
    PutLittleEndian(&h[20], 1, 2);   // PCM
    PutLittleEndian(&h[22], static_cast<uint32_t>(channels), 2);
    PutLittleEndian(&h[24], static_cast<uint32_t>(rate), 4);
    PutLittleEndian(&h[28], static_cast<uint32_t>(rate * channels * kBytesPerSample), 4);
    PutLittleEndian(&h[32], static_cast<uint32_t>(channels * kBytesPerSample), 2);
    PutLittleEndian(&h[34], 8 * kBytesPerSample, 2);
    std::memcpy(&h[36], "data", 4);
    PutLittleEndian(&h[40], dataBytes, 4);
    return h;
}

bool Writer::Open(const std::string& path, long rate, int channels) {
    out_.open(path, std::ios::binary | std::ios::trunc);
    if (!out_) return false;
    dataBytes_ = 0;
    rate_ = rate;
    channels_ = channels;
    WriteHeader();
    return static_cast<bool>(out_);
}

void Writer::Append(const uint8_t* data, std::size_t size) {
    out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    dataBytes_ += size;
}

bool Writer::Close() {
    if (!out_.is_open()) return false;
    out_.seekp(0);
    WriteHeader();
    out_.close();
    return !out_.fail();
}

void Writer::WriteHeader() {
    const auto data = static_cast<uint32_t>(std::min<uint64_t>(dataBytes_, kMaxDataBytes));
    const auto header = Header(rate_, channels_, data);
    out_.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
}

std::optional<Pcm16> ParsePcm16(const unsigned char* bytes, std::size_t length) {
    if (length < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) return std::nullopt;
    uint16_t channels = 0, bits = 0, format = 0;
    uint32_t rate = 0;
    for (size_t pos = 12; pos + 8 <= length;) {
        const uint32_t size = Le32(&bytes[pos + 4]);
        const size_t body = pos + 8;
        const size_t available = std::min<size_t>(size, length - body);
        if (std::memcmp(&bytes[pos], "fmt ", 4) == 0 && available >= 16) {
            format = Le16(&bytes[body]);
            channels = Le16(&bytes[body + 2]);
            rate = Le32(&bytes[body + 4]);
            bits = Le16(&bytes[body + 14]);
        } else if (std::memcmp(&bytes[pos], "data", 4) == 0) {
            if (format != 1 || bits != 16 || channels == 0) return std::nullopt;
            Pcm16 pcm{static_cast<long>(rate), channels, {}};
            const size_t frames = available / (size_t{kBytesPerSample} * channels);
            pcm.samples.reserve(frames * channels);
            for (size_t i = 0; i < frames * channels; ++i)
                pcm.samples.push_back(static_cast<int16_t>(Le16(&bytes[body + i * kBytesPerSample])));
            return pcm;
        }
        if (size > length) break;
        pos = body + size + (size & 1u);
    }
    return std::nullopt;
}

std::optional<Pcm16> ReadPcm16(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParsePcm16(bytes.data(), bytes.size());
}

}  // namespace WaveFile
