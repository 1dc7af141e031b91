#include <sys/stat.h>

#include "CbMpegAudioDecoder.h"
#include "mciDevice.h"

namespace mci {
namespace detail {
namespace {

// ---- Render mode without a pipeline ----
// In render mode a file that needs no conversion beyond mixing to the two output channels (MP3,
// or 16-bit PCM WAVE, at the render rate) is decoded at open straight into memory and written
// out by play: no pipeline is built, so a long utterance renders at the speed of the decoder.
// Any other file, and a device whose speed is changed, goes through GStreamer as usual.

// Interleaved samples at the render rate mixed down to one channel; nothing for another rate, a
// layout other than mono or stereo, or no sound at all.
std::optional<std::vector<int16_t>> MonoAtRenderRate(long rate, int channels, std::vector<int16_t> samples) {
    if (rate != kRenderRate || (channels != 1 && channels != 2)) return std::nullopt;
    if (channels == 2) {
        for (size_t i = 0; i + 1 < samples.size(); i += 2)
            samples[i / 2] = static_cast<int16_t>((samples[i] + samples[i + 1]) / 2);
        samples.resize(samples.size() / 2);
    }
    if (samples.empty()) return std::nullopt;
    return samples;
}

std::optional<std::vector<int16_t>> DecodeMp3(const std::string& path) {
    std::optional<DecodedMp3> decoded = DecodeMp3File(path);
    if (!decoded) return std::nullopt;
    return MonoAtRenderRate(decoded->rate, decoded->channels, std::move(decoded->samples));
}

std::optional<std::vector<int16_t>> ReadPcmWave(const std::string& path) {
    std::optional<WaveFile::Pcm16> wave = WaveFile::ReadPcm16(path);
    if (!wave) return std::nullopt;
    return MonoAtRenderRate(wave->rate, wave->channels, std::move(wave->samples));
}

constexpr size_t kRenderCacheLimit = 32 * 1024 * 1024;  // samples (64 MB)

// The identity of a file's content: path, device, inode, size and modification time.
std::optional<std::string> FileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return path + '\n' + std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' + std::to_string(st.st_size) +
           ':' + std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

std::shared_ptr<const std::vector<int16_t>> DecodeForRender(DeviceTable& m, const std::string& path) {
    const std::optional<std::string> identity = FileIdentity(path);
    if (identity) {
        auto it = m.renderCache.find(*identity);
        if (it != m.renderCache.end()) return it->second;
    }
    const std::string decoder = DecoderFor(path);
    std::optional<std::vector<int16_t>> samples;
    if (IsMp3Decoder(decoder)) samples = DecodeMp3(path);
    else if (decoder == "wavparse") samples = ReadPcmWave(path);
    if (!samples) return nullptr;
    auto pcm = std::make_shared<const std::vector<int16_t>>(std::move(*samples));
    if (identity && m.renderCacheSamples + pcm->size() <= kRenderCacheLimit) {
        m.renderCache.emplace(*identity, pcm);
        m.renderCacheSamples += pcm->size();
    }
    return pcm;
}

}  // namespace

void ClearRenderCache(DeviceTable& table) {
    table.renderCache.clear();
    table.renderCacheSamples = 0;
}

// Decodes the device's file for direct rendering; false when it needs a pipeline.
bool LoadDirect(Device& device) {
    device.pcm = DecodeForRender(*device.table, device.path);
    if (!device.pcm) return false;
    device.lengthNs = static_cast<int64_t>(gst_util_uint64_scale(device.pcm->size(), GST_SECOND, kRenderRate));
    device.direct = true;
    return true;
}

// Writes the frames start..end of a direct device into the render file with the output levels.
void RenderDirect(const Device& device, int64_t start, int64_t end) {
    const std::vector<int16_t>& pcm = *device.pcm;
    const size_t first = std::min<size_t>(pcm.size(), static_cast<size_t>(start * kRenderRate / kFramesPerSecond));
    const size_t last = end >= device.LengthFrames()
                            ? pcm.size()
                            : std::min<size_t>(pcm.size(), static_cast<size_t>(end * kRenderRate / kFramesPerSecond));
    DeviceTable& m = *device.table;
    std::vector<int16_t> frames((last > first ? last - first : 0) * kRenderChannels);
    const bool full = m.leftLevel == 65535 && m.rightLevel == 65535;
    for (size_t i = first, o = 0; i < last; ++i, o += 2) {
        frames[o] = full ? pcm[i] : static_cast<int16_t>(int32_t{pcm[i]} * m.leftLevel / 65535);
        frames[o + 1] = full ? pcm[i] : static_cast<int16_t>(int32_t{pcm[i]} * m.rightLevel / 65535);
    }
    std::lock_guard lock(m.streamMutex);
    if (m.render.IsOpen() && !frames.empty())
        m.render.Append(reinterpret_cast<const uint8_t*>(frames.data()), frames.size() * sizeof(int16_t));
    if (m.observer && last > first) m.observer(device.id, gst_util_uint64_scale(last - first, GST_SECOND, kRenderRate));
}

}  // namespace detail

using namespace detail;

uint32_t Devices::BeginRender(const std::string& wavPath) {
    DeviceTable& m = *table_;
    ClearRenderCache(m);
    std::lock_guard lock(m.streamMutex);
    if (m.render.IsOpen()) m.render.Close();
    return m.render.Open(wavPath, kRenderRate, kRenderChannels) ? 0u : static_cast<uint32_t>(MCIERR_FILE_NOT_FOUND);
}

uint32_t Devices::EndRender() {
    DeviceTable& m = *table_;
    ClearRenderCache(m);
    std::lock_guard lock(m.streamMutex);
    if (!m.render.IsOpen()) return 0;
    return m.render.Close() ? 0u : static_cast<uint32_t>(MCIERR_FILE_NOT_FOUND);
}

bool Devices::IsRendering() const {
    std::lock_guard lock(table_->streamMutex);
    return table_->render.IsOpen();
}

}  // namespace mci
