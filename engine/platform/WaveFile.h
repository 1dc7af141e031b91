#pragma once
// WAVE files of 16-bit PCM: the canonical 44-byte header, a writer that completes the header when
// the file is closed, and a reader of the samples.
#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace WaveFile {

inline constexpr std::size_t kHeaderSize = 44;
inline constexpr uint32_t kMaxDataBytes = 0xFFFFFFFFu - 36;  // the RIFF size must fit 32 bits

// RIFF header of a 16-bit PCM file with `dataBytes` bytes of samples.
std::array<unsigned char, kHeaderSize> Header(long rate, int channels, uint32_t dataBytes);

// Writes a header with no data at open, the samples as they come, and the header with the real
// data size at close.
class Writer {
public:
    bool Open(const std::string& path, long rate, int channels);
    void Append(const uint8_t* data, std::size_t size);
    // Completes the header and closes; false when the file was not open or a write failed.
    bool Close();
    bool IsOpen() const { return out_.is_open(); }

private:
    void WriteHeader();
    std::ofstream out_;
    uint64_t dataBytes_ = 0;
    long rate_ = 0;
    int channels_ = 0;
};

// Interleaved 16-bit samples of a PCM WAVE file.
struct Pcm16 {
    long rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;
};
// The samples of the first "data" chunk of a RIFF/WAVE file whose format is 16-bit PCM (a data
// chunk that runs past the end of the file is read as far as it goes). Nothing when the file
// cannot be read, is no WAVE file, or holds another format.
std::optional<Pcm16> ReadPcm16(const std::string& path);
// The same for the bytes of a WAVE file in memory.
std::optional<Pcm16> ParsePcm16(const unsigned char* bytes, std::size_t length);

}  // namespace WaveFile
