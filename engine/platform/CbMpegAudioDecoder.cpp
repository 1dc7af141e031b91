#include "CbMpegAudioDecoder.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "WaveFile.h"

namespace {

enum Result : int32_t { kOk = 0, kInputMissing = 1, kNotDecodable = 2, kOutputFailed = 3 };

constexpr int kBytesPerSample = 2;  // 16-bit PCM
constexpr size_t kWaveHeaderSize = WaveFile::kHeaderSize;

void SetStatus(char* status, const std::string& text) {
    if (status) std::snprintf(status, kDecoderStatusSize, "%s", text.c_str());
}

struct HandleDeleter {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
using DecoderHandle = std::unique_ptr<mpg123_handle, HandleDeleter>;

// An output file under construction: a temporary file beside the target that is removed unless
// it is committed (renamed onto the target).
class PendingFile {
public:
    explicit PendingFile(std::string target) : target_(std::move(target)) {
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            temp_ = target_ + ".part" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) error_ = std::strerror(errno);
    }
    ~PendingFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_ && opened()) ::unlink(temp_.c_str());
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool opened() const { return fd_ >= 0 || wasOpened_; }
    const std::string& error() const { return error_; }

    bool Write(const void* data, size_t size) { return WriteAt(data, size, -1); }
    bool WriteAt(const void* data, size_t size, off_t offset) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t n = offset < 0 ? ::write(fd_, p, size) : ::pwrite(fd_, p, size, offset);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error_ = n < 0 ? std::strerror(errno) : "short write";
                return false;
            }
            p += n;
            size -= static_cast<size_t>(n);
            if (offset >= 0) offset += n;
        }
        return true;
    }
    bool Commit() {
        wasOpened_ = true;
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 || ::rename(temp_.c_str(), target_.c_str()) != 0) {
            error_ = std::strerror(errno);
            return false;
        }
        committed_ = true;
        return true;
    }

private:
    std::string target_;
    std::string temp_;
    std::string error_;
    int fd_ = -1;
    bool wasOpened_ = false;
    bool committed_ = false;
};

// Opens the MP3 for decoding to 16-bit signed samples at its own rate and channel count, with
// gapless trimming. Returns null (and the reason) when the library or the file refuses. Without
// an input the decoder is returned unopened.
DecoderHandle OpenDecoder(const char* input, std::string& reason) {
    static const int initialised = mpg123_init();
    if (initialised != MPG123_OK) {
        reason = mpg123_plain_strerror(initialised);
        return nullptr;
    }
    int err = MPG123_OK;
    DecoderHandle h(mpg123_new(nullptr, &err));
    if (!h) {
        reason = mpg123_plain_strerror(err);
        return nullptr;
    }
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    mpg123_format_none(h.get());
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(h.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (input && mpg123_open(h.get(), input) != MPG123_OK) {
        reason = mpg123_strerror(h.get());
        return nullptr;
    }
    return h;
}

}  // namespace

int32_t CbMpegAudioDecoder(const char* input, const char* output, char* status) {
    if (!input || !output || !*input || !*output) {
        SetStatus(status, "No input or output file name given");
        return kInputMissing;
    }
    struct stat info {};
    if (::stat(input, &info) != 0 || !S_ISREG(info.st_mode)) {
        SetStatus(status, std::string("Cannot find the MP3 file ") + input);
        return kInputMissing;
    }
    std::string reason;
    DecoderHandle h = OpenDecoder(input, reason);
    if (!h) {
        SetStatus(status, std::string("Cannot open the MP3 file ") + input + ": " + reason);
        return kInputMissing;
    }
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(h.get(), &rate, &channels, &encoding) != MPG123_OK || encoding != MPG123_ENC_SIGNED_16) {
        SetStatus(status, std::string("Not an MP3 file: ") + input);
        return kNotDecodable;
    }
    // Keep this format for the whole file: a stream that changes it part way is not one recording.
    mpg123_format_none(h.get());
    mpg123_format(h.get(), rate, channels, encoding);

    PendingFile out(output);
    if (!out.opened()) {
        SetStatus(status, std::string("Cannot create the WAVE file ") + output + ": " + out.error());
        return kOutputFailed;
    }
    if (!out.Write(WaveFile::Header(rate, channels, 0).data(), kWaveHeaderSize)) {
        SetStatus(status, std::string("Cannot write the WAVE file ") + output + ": " + out.error());
        return kOutputFailed;
    }
    std::vector<unsigned char> buffer(64 * 1024);
    uint64_t dataBytes = 0;
    const uint64_t maxDataBytes = WaveFile::kMaxDataBytes;
    for (;;) {
        size_t done = 0;
        int rc = mpg123_read(h.get(), buffer.data(), buffer.size(), &done);
        if (done > 0) {
            dataBytes += done;
            if (dataBytes > maxDataBytes) {
                SetStatus(status, std::string("The decoded sound is too long for a WAVE file: ") + input);
                return kOutputFailed;
            }
            if (!out.Write(buffer.data(), done)) {
                SetStatus(status, std::string("Cannot write the WAVE file ") + output + ": " + out.error());
                return kOutputFailed;
            }
        }
        if (rc == MPG123_DONE) break;
        if (rc == MPG123_OK) continue;
        SetStatus(status, std::string("Decoding failed for ") + input + ": " +
                              (rc == MPG123_NEW_FORMAT ? "the stream changes its format" : mpg123_strerror(h.get())));
        return kNotDecodable;
    }
    if (dataBytes == 0) {
        SetStatus(status, std::string("No sound decoded from ") + input);
        return kNotDecodable;
    }
    if (!out.WriteAt(WaveFile::Header(rate, channels, static_cast<uint32_t>(dataBytes)).data(), kWaveHeaderSize, 0) ||
        !out.Commit()) {
        SetStatus(status, std::string("Cannot write the WAVE file ") + output + ": " + out.error());
        return kOutputFailed;
    }
    uint64_t frames = dataBytes / static_cast<uint64_t>(channels * kBytesPerSample);
    SetStatus(status, "Decoded " + std::to_string(frames) + " samples at " + std::to_string(rate) + " Hz, " +
                          std::to_string(channels) + " channel(s) to " + output);
    return kOk;
}

namespace {

// A read-only stream over bytes in memory, read by the decoder through its reader callbacks.
struct MemoryStream {
    const unsigned char* data = nullptr;
    size_t size = 0;
    size_t position = 0;
};

mpg123_ssize_t ReadMemory(void* handle, void* buffer, size_t count) {
    auto* stream = static_cast<MemoryStream*>(handle);
    const size_t n = std::min(count, stream->size - stream->position);
    if (n > 0) std::memcpy(buffer, stream->data + stream->position, n);
    stream->position += n;
    return static_cast<mpg123_ssize_t>(n);
}

off_t SeekMemory(void* handle, off_t offset, int whence) {
    auto* stream = static_cast<MemoryStream*>(handle);
    const off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<off_t>(stream->position)
                                                                    : static_cast<off_t>(stream->size);
    if ((whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) || base + offset < 0 ||
        static_cast<size_t>(base + offset) > stream->size)
        return -1;
    stream->position = static_cast<size_t>(base + offset);
    return static_cast<off_t>(stream->position);
}

// Reads the whole stream of an opened decoder into memory.
std::optional<DecodedMp3> ReadAll(mpg123_handle* h) {
    DecodedMp3 decoded;
    int encoding = 0;
    if (mpg123_getformat(h, &decoded.rate, &decoded.channels, &encoding) != MPG123_OK ||
        encoding != MPG123_ENC_SIGNED_16)
        return std::nullopt;
    mpg123_format_none(h);
    mpg123_format(h, decoded.rate, decoded.channels, encoding);
    std::vector<unsigned char> buffer(32 * 1024);
    for (;;) {
        size_t done = 0;
        const int rc = mpg123_read(h, buffer.data(), buffer.size(), &done);
        const size_t old = decoded.samples.size();
        decoded.samples.resize(old + done / kBytesPerSample);
        std::memcpy(decoded.samples.data() + old, buffer.data(), (done / kBytesPerSample) * kBytesPerSample);
        if (rc == MPG123_DONE) break;
        if (rc != MPG123_OK) return std::nullopt;
    }
    if (decoded.samples.empty()) return std::nullopt;
    return decoded;
}

}  // namespace

std::optional<DecodedMp3> DecodeMp3File(const std::string& input) {
    std::string reason;
    DecoderHandle h = OpenDecoder(input.c_str(), reason);
    if (!h) return std::nullopt;
    return ReadAll(h.get());
}

std::optional<DecodedMp3> DecodeMp3Bytes(const void* data, std::size_t size) {
    std::string reason;
    DecoderHandle h = OpenDecoder(nullptr, reason);
    if (!h) return std::nullopt;
    MemoryStream stream{static_cast<const unsigned char*>(data), size, 0};
    if (mpg123_replace_reader_handle(h.get(), ReadMemory, SeekMemory, nullptr) != MPG123_OK ||
        mpg123_open_handle(h.get(), &stream) != MPG123_OK)
        return std::nullopt;
    std::optional<DecodedMp3> decoded = ReadAll(h.get());
    mpg123_close(h.get());  // the stream lives on this frame only
    return decoded;
}
