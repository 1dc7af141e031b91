#include "ClipAudio.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "CbMpegAudioDecoder.h"
#include "WaveFile.h"

namespace ClipAudio {
namespace {

bool IsWave(const std::vector<char>& bytes) {
    return bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 && std::memcmp(bytes.data() + 8, "WAVE", 4) == 0;
}

bool IsMp3(const std::vector<char>& bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    return (bytes.size() >= 3 && std::memcmp(b, "ID3", 3) == 0) || (bytes.size() >= 2 && b[0] == 0xFF && (b[1] & 0xE0) == 0xE0);
}

// Interleaved samples of one or two channels as one channel (the two averaged).
std::vector<int16_t> ToMono(std::vector<int16_t> samples, int channels) {
    if (channels == 2) {
        for (size_t i = 0; i + 1 < samples.size(); i += 2)
            samples[i / 2] = static_cast<int16_t>((samples[i] + samples[i + 1]) / 2);
        samples.resize(samples.size() / 2);
    }
    return samples;
}

// 16-bit PCM at kRate with one or two channels; nothing for any other WAVE file.
std::optional<std::vector<int16_t>> ReadPcmWave(const std::vector<char>& data) {
    std::optional<WaveFile::Pcm16> wave = WaveFile::ParsePcm16(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    if (!wave || wave->rate != kRate || (wave->channels != 1 && wave->channels != 2)) return std::nullopt;
    return ToMono(std::move(wave->samples), wave->channels);
}

std::optional<std::vector<int16_t>> DecodeMp3(const std::vector<char>& bytes) {
    std::optional<DecodedMp3> decoded = DecodeMp3Bytes(bytes.data(), bytes.size());
    if (!decoded || decoded->rate != kRate || (decoded->channels != 1 && decoded->channels != 2)) return std::nullopt;
    return ToMono(std::move(decoded->samples), decoded->channels);
}

// ---- GStreamer: bytes in through appsrc, mono samples at kRate out through appsink ----

struct ObjectUnref {
    void operator()(gpointer p) const { gst_object_unref(p); }
};
using Element = std::unique_ptr<GstElement, ObjectUnref>;
struct SampleUnref {
    void operator()(GstSample* s) const { gst_sample_unref(s); }
};
struct MessageUnref {
    void operator()(GstMessage* m) const { gst_message_unref(m); }
};

constexpr const char* kMonoOut = "audio/x-raw,format=S16LE,layout=interleaved,channels=1,rate=22050";

// A pipeline stopped (state NULL) however the run ends.
class Pipeline {
public:
    explicit Pipeline(const std::string& description, std::string& reason) {
        if (!gst_init_check(nullptr, nullptr, nullptr)) {
            reason = "GStreamer cannot be started";
            return;
        }
        GError* error = nullptr;
        GstElement* built = gst_parse_launch(description.c_str(), &error);
        if (error) {
            reason = error->message;
            g_error_free(error);
        }
        if (built) pipeline_.reset(GST_ELEMENT(gst_object_ref_sink(built)));
        if (error) pipeline_.reset();
        if (pipeline_) {
            source_.reset(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "src"));
            sink_.reset(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "sink"));
        }
    }
    ~Pipeline() {
        if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // Pushes `size` bytes and the end of the stream, then collects what comes out.
    std::optional<std::vector<int16_t>> Run(const void* data, size_t size, const std::atomic<bool>* cancel, std::string& reason) {
        if (!pipeline_ || !source_ || !sink_) {
            if (reason.empty()) reason = "the conversion pipeline cannot be built";
            return std::nullopt;
        }
        g_object_set(sink_.get(), "sync", FALSE, nullptr);
        if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            reason = "the conversion pipeline does not start";
            return std::nullopt;
        }
        GstFlowReturn flow = GST_FLOW_OK;
        GstBuffer* buffer = gst_buffer_new_memdup(data, size);
        g_signal_emit_by_name(source_.get(), "push-buffer", buffer, &flow);
        gst_buffer_unref(buffer);
        g_signal_emit_by_name(source_.get(), "end-of-stream", &flow);
        return Collect(cancel, reason);
    }

    void SetTempo(double tempo) {
        if (!pipeline_) return;
        Element pitch(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "tempo"));
        if (pitch) g_object_set(pitch.get(), "tempo", static_cast<gfloat>(tempo), nullptr);
    }

private:
    std::optional<std::vector<int16_t>> Collect(const std::atomic<bool>* cancel, std::string& reason) {
        std::vector<int16_t> out;
        std::unique_ptr<GstBus, ObjectUnref> bus(gst_element_get_bus(pipeline_.get()));
        for (;;) {
            if (cancel && cancel->load()) {
                reason = "cancelled";
                return std::nullopt;
            }
            GstSample* raw = nullptr;
            g_signal_emit_by_name(sink_.get(), "try-pull-sample", GstClockTime(20 * GST_MSECOND), &raw);
            std::unique_ptr<GstSample, SampleUnref> sample(raw);
            if (sample) {
                GstMapInfo map;
                GstBuffer* b = gst_sample_get_buffer(sample.get());
                if (b && gst_buffer_map(b, &map, GST_MAP_READ)) {
                    const size_t old = out.size();
                    out.resize(old + map.size / 2);
                    std::memcpy(out.data() + old, map.data, (map.size / 2) * 2);
                    gst_buffer_unmap(b, &map);
                }
                continue;
            }
            std::unique_ptr<GstMessage, MessageUnref> error(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
            if (error) {
                GError* e = nullptr;
                gst_message_parse_error(error.get(), &e, nullptr);
                reason = e ? e->message : "decoding failed";
                if (e) g_error_free(e);
                return std::nullopt;
            }
            gboolean eos = FALSE;
            g_object_get(sink_.get(), "eos", &eos, nullptr);
            if (eos) return out;
        }
    }

    Element pipeline_;
    Element source_;
    Element sink_;
};

}  // namespace

std::optional<std::vector<int16_t>> DecodeMono(const std::vector<char>& bytes, std::string& reason) {
    std::optional<std::vector<int16_t>> samples;
    if (IsWave(bytes)) samples = ReadPcmWave(bytes);
    else if (IsMp3(bytes)) samples = DecodeMp3(bytes);
    if (!samples) {
        // Another format, rate or sample size: the conversion a media device would make.
        Pipeline pipeline(std::string("appsrc name=src ! decodebin ! audioconvert ! audioresample ! ") + kMonoOut +
                              " ! appsink name=sink",
                          reason);
        samples = pipeline.Run(bytes.data(), bytes.size(), nullptr, reason);
    }
    if (samples && samples->empty()) {
        reason = "no sound in the clip";
        return std::nullopt;
    }
    return samples;
}

std::optional<std::vector<int16_t>> ChangeTempo(const std::vector<int16_t>& samples, double tempo,
                                                const std::atomic<bool>& cancel, std::string& reason) {
    if (samples.empty()) return samples;
    const std::string description = std::string("appsrc name=src format=time caps=") + kMonoOut +
                                    " ! audioconvert ! pitch name=tempo ! audioconvert ! " + kMonoOut + " ! appsink name=sink";
    Pipeline pipeline(description, reason);
    pipeline.SetTempo(std::clamp(tempo, 0.1, 10.0));
    return pipeline.Run(samples.data(), samples.size() * sizeof(int16_t), &cancel, reason);
}

}  // namespace ClipAudio
