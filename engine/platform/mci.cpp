#include "mci.h"

#include <gst/gst.h>
#include <mpg123.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <vector>

#include "CbMpegAudioDecoder.h"
#include "NotifySink.h"

namespace mci {
namespace {

// ---- RAII for GLib and GStreamer objects ----
struct GstObjectUnref {
    void operator()(gpointer object) const {
        if (object) gst_object_unref(object);
    }
};
template <class T>
using GstPtr = std::unique_ptr<T, GstObjectUnref>;
struct GstMessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
using MessagePtr = std::unique_ptr<GstMessage, GstMessageUnref>;
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
using CharPtr = std::unique_ptr<gchar, GFree>;
struct GValueUnset {
    void operator()(GValue* value) const {
        g_value_unset(value);
        delete value;
    }
};
using ValuePtr = std::unique_ptr<GValue, GValueUnset>;

ValuePtr NewValue(GType type) {
    ValuePtr value(new GValue G_VALUE_INIT);
    g_value_init(value.get(), type);
    return value;
}

constexpr int64_t kNanosPerFrame = GST_SECOND / kFramesPerSecond;
constexpr const char* kFallbackSink = "fakesink sync=true";
constexpr GstClockTime kStateChangeTimeout = 10 * GST_SECOND;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// ---- The WAVE file of render mode ----
class WavWriter {
public:
    bool Open(const std::string& path) {
        out_.open(path, std::ios::binary | std::ios::trunc);
        if (!out_) return false;
        dataBytes_ = 0;
        WriteHeader();
        return static_cast<bool>(out_);
    }
    void Append(const uint8_t* data, size_t size) {
        out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        dataBytes_ += size;
    }
    bool Close() {
        if (!out_.is_open()) return false;
        out_.seekp(0);
        WriteHeader();
        out_.close();
        return !out_.fail();
    }
    bool IsOpen() const { return out_.is_open(); }

private:
    void Put32(uint32_t v) {
        const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char((v >> 24) & 0xff)};
        out_.write(b, 4);
    }
    void Put16(uint16_t v) {
        const char b[2] = {char(v & 0xff), char((v >> 8) & 0xff)};
        out_.write(b, 2);
    }
    void WriteHeader() {
        const uint32_t data = static_cast<uint32_t>(std::min<uint64_t>(dataBytes_, 0xFFFFFFFFull - 36));
        const uint16_t blockAlign = kRenderChannels * 2;
        out_.write("RIFF", 4);
        Put32(36 + data);
        out_.write("WAVEfmt ", 8);
        Put32(16);
        Put16(1);  // PCM
        Put16(kRenderChannels);
        Put32(kRenderRate);
        Put32(kRenderRate * blockAlign);
        Put16(blockAlign);
        Put16(16);
        out_.write("data", 4);
        Put32(data);
    }
    std::ofstream out_;
    uint64_t dataBytes_ = 0;
};

// ---- Devices ----
enum class Mode { Stopped, Playing, Paused };

struct Device {
    uint32_t id = 0;
    std::string alias;
    std::string path;
    GstPtr<GstElement> pipeline;
    GstPtr<GstElement> tempo;  // the pitch element that sets the speed
    guint busWatch = 0;
    NotifySink* notifyTarget = nullptr;  // where the pending play's notification goes
    int64_t lengthNs = 0;
    int32_t speed = 1000;
    bool timeFormatFrames = false;
    Mode mode = Mode::Stopped;
    bool everPlayed = false;
    // Render mode without a pipeline: the whole file decoded, mono at kRenderRate.
    bool direct = false;
    std::shared_ptr<const std::vector<int16_t>> pcm;
    int64_t directPositionFrames = 0;

    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() {
        if (!pipeline) return;
        GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
        if (busWatch) gst_bus_remove_watch(bus.get());
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    }
    int64_t LengthFrames() const { return (lengthNs + kNanosPerFrame / 2) / kNanosPerFrame; }
    void Notify(long code) {
        NotifySink* target = notifyTarget;
        notifyTarget = nullptr;
        if (target) target->Post(NotifySink::MM_MCINOTIFY, code, static_cast<long>(id));
    }
};

struct Module {
    std::map<std::string, std::unique_ptr<Device>> devices;  // key: lower-case alias
    uint32_t nextId = 1;
    std::string sinkDescription;
    std::optional<std::string> resolvedDefaultSink;
    uint16_t leftLevel = 65535;
    uint16_t rightLevel = 65535;
    bool gstReady = false;

    std::mutex streamMutex;  // guards what streaming threads touch
    WavWriter render;
    // Decoded files of the current render, by file identity: an utterance plays the same word
    // file many times. Emptied when render mode begins and ends.
    std::map<std::string, std::shared_ptr<const std::vector<int16_t>>> renderCache;
    size_t renderCacheSamples = 0;
    BufferObserver observer;
};

// Never destroyed: devices may still be open when the process exits.
Module& M() {
    static Module* module = new Module;
    return *module;
}

Device* FindDevice(const std::string& alias) {
    auto it = M().devices.find(Lower(alias));
    return it == M().devices.end() ? nullptr : it->second.get();
}

Device* FindDeviceById(uint32_t id) {
    for (auto& [key, device] : M().devices)
        if (device->id == id) return device.get();
    return nullptr;
}

// mpg123audiodec of GStreamer 1.22 hands the decoder base class an empty buffer for the first
// frame of a gapless MP3 (the LAME tag frame decodes to no samples), which trips a harmless
// precondition check once per file played. That one message is dropped; all others pass on.
void DropEmptyDecoderBufferNoise(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    if (message && std::strstr(message, "gst_audio_decoder_allocate_output_buffer: assertion 'size > 0' failed")) return;
    g_log_default_handler(domain, level, message, nullptr);
}

bool EnsureGstreamer() {
    if (!M().gstReady) {
        M().gstReady = gst_init_check(nullptr, nullptr, nullptr);
        if (M().gstReady) g_log_set_handler("GStreamer-Audio", G_LOG_LEVEL_CRITICAL, DropEmptyDecoderBufferNoise, nullptr);
    }
    return M().gstReady;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// ---- Command text ----
struct Token {
    std::string text;  // without quotes
    size_t begin = 0;  // raw extent in the command
    size_t end = 0;
    bool quoted = false;
    std::string lower() const { return Lower(text); }
};

uint32_t Tokenise(const std::string& command, std::vector<Token>& tokens) {
    size_t i = 0;
    while (i < command.size()) {
        if (std::isspace(static_cast<unsigned char>(command[i]))) {
            ++i;
            continue;
        }
        Token t;
        t.begin = i;
        if (command[i] == '"') {
            size_t close = command.find('"', i + 1);
            if (close == std::string::npos) return MCIERR_NO_CLOSING_QUOTE;
            t.text = command.substr(i + 1, close - i - 1);
            t.quoted = true;
            i = close + 1;
        } else {
            while (i < command.size() && !std::isspace(static_cast<unsigned char>(command[i]))) ++i;
            t.text = command.substr(t.begin, i - t.begin);
        }
        t.end = i;
        tokens.push_back(std::move(t));
    }
    return 0;
}

std::optional<int64_t> ParseInteger(const std::string& text) {
    int64_t value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

struct OpenOptions {
    std::optional<std::string> type, alias;
    std::optional<int64_t> parent, style;
    bool notify = false, wait = false, shareable = false;
};

// Parses open keywords from tokens[first..]; 0 or an error code.
uint32_t ParseOpenKeywords(const std::vector<Token>& tokens, size_t first, OpenOptions& options) {
    options = OpenOptions{};
    for (size_t i = first; i < tokens.size(); ++i) {
        const std::string word = tokens[i].lower();
        auto value = [&]() -> const Token* { return i + 1 < tokens.size() ? &tokens[++i] : nullptr; };
        if (word == "notify" || word == "wait" || word == "shareable") {
            bool& flag = word == "notify" ? options.notify : word == "wait" ? options.wait : options.shareable;
            if (flag) return MCIERR_DUPLICATE_FLAGS;
            flag = true;
        } else if (word == "type" || word == "alias") {
            auto& slot = word == "type" ? options.type : options.alias;
            if (slot) return MCIERR_DUPLICATE_FLAGS;
            const Token* v = value();
            if (!v) return MCIERR_MISSING_PARAMETER;
            slot = v->text;
        } else if (word == "parent" || word == "style") {
            auto& slot = word == "parent" ? options.parent : options.style;
            if (slot) return MCIERR_DUPLICATE_FLAGS;
            const Token* v = value();
            if (!v) return MCIERR_MISSING_PARAMETER;
            slot = ParseInteger(v->text);
            if (!slot) return MCIERR_BAD_INTEGER;
        } else {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    return 0;
}

// ---- Pipelines ----
struct Mpg123Delete {
    void operator()(mpg123_handle* handle) const {
        mpg123_close(handle);
        mpg123_delete(handle);
    }
};

// Exact length of an MP3 file (the parser knows it only after reading the whole stream); 0 when
// it cannot be decoded.
int64_t Mp3LengthNs(const std::string& path) {
    static const bool ready = mpg123_init() == MPG123_OK;
    if (!ready) return 0;
    std::unique_ptr<mpg123_handle, Mpg123Delete> handle(mpg123_new(nullptr, nullptr));
    if (!handle) return 0;
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    if (mpg123_open(handle.get(), path.c_str()) != MPG123_OK || mpg123_scan(handle.get()) != MPG123_OK) return 0;
    long rate = 0;
    int channels = 0, encoding = 0;
    const off_t samples = mpg123_length(handle.get());
    if (mpg123_getformat(handle.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || samples <= 0) return 0;
    return static_cast<int64_t>(gst_util_uint64_scale(static_cast<guint64>(samples), GST_SECOND, static_cast<guint64>(rate)));
}

bool IsMp3Decoder(const std::string& decoder) { return decoder.find("mpg123audiodec") != std::string::npos; }

std::string DecoderFor(const std::string& path) {
    unsigned char head[12] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(head), sizeof head);
    const auto got = in.gcount();
    if (got >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) return "wavparse";
    const bool id3 = got >= 3 && std::memcmp(head, "ID3", 3) == 0;
    const bool mpegSync = got >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0;
    if (id3 || mpegSync) return "mpegaudioparse ! mpg123audiodec";
    return "decodebin";
}

// autoaudiosink that finds no audio output stands in a fakesink of its own: it reaches READY,
// but every pipeline would probe the missing devices again (and print their errors) to end up
// silent anyway.
bool PicksFakeSink(GstElement* autoSink) {
    bool fake = false;
    GstIterator* it = gst_bin_iterate_elements(GST_BIN(autoSink));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
        if (factory && std::strcmp(GST_OBJECT_NAME(factory), "fakesink") == 0) fake = true;
        g_value_unset(&item);
    }
    gst_iterator_free(it);
    return fake;
}

std::string ResolveDefaultSink() {
    Module& m = M();
    if (!m.resolvedDefaultSink) {
        GstPtr<GstElement> probe(gst_element_factory_make("autoaudiosink", nullptr));
        bool usable = false;
        if (probe) {
            gst_object_ref_sink(probe.get());
            usable = gst_element_set_state(probe.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE &&
                     !PicksFakeSink(probe.get());
            gst_element_set_state(probe.get(), GST_STATE_NULL);
        }
        if (!usable) std::fprintf(stderr, "RavekVoice: no audio output could be opened; playing to %s\n", kFallbackSink);
        m.resolvedDefaultSink = usable ? "autoaudiosink" : kFallbackSink;
    }
    return *m.resolvedDefaultSink;
}

std::string PipelineDescription(const std::string& decoder) {
    const bool rendering = M().render.IsOpen();
    std::string description = "filesrc name=src ! " + decoder + " ! audioconvert ! audioresample ! audio/x-raw,channels=1";
    if (rendering) description += ",rate=" + std::to_string(kRenderRate);
    description += " ! pitch name=tempo ! audioconvert name=levels ! audio/x-raw,channels=2";
    if (rendering)
        description += ",format=S16LE,layout=interleaved ! fakesink name=render sync=false signal-handoffs=true";
    else
        description += " ! " + AudioSinkDescription();
    return description;
}

void SetLevels(GstElement* levels) {
    auto matrix = NewValue(GST_TYPE_ARRAY);
    for (uint16_t level : {M().leftLevel, M().rightLevel}) {
        auto row = NewValue(GST_TYPE_ARRAY);
        auto gain = NewValue(G_TYPE_FLOAT);
        g_value_set_float(gain.get(), static_cast<float>(level) / 65535.0f);
        gst_value_array_append_value(row.get(), gain.get());
        gst_value_array_append_value(matrix.get(), row.get());
    }
    g_object_set_property(G_OBJECT(levels), "mix-matrix", matrix.get());
}

void OnHandoff(GstElement*, GstBuffer* buffer, GstPad*, gpointer data) {
    Module& m = M();
    std::lock_guard lock(m.streamMutex);
    if (m.render.IsOpen()) {
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            m.render.Append(map.data, map.size);
            gst_buffer_unmap(buffer, &map);
        }
    }
    if (m.observer) m.observer(GPOINTER_TO_UINT(data), GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : 0);
}

void ConnectHandoffs(Device& device) {
    GstIterator* it = gst_bin_iterate_sinks(GST_BIN(device.pipeline.get()));
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElement* sink = GST_ELEMENT(g_value_get_object(&item));
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "signal-handoffs")) {
            g_object_set(sink, "signal-handoffs", TRUE, nullptr);
            g_signal_connect(sink, "handoff", G_CALLBACK(OnHandoff), GUINT_TO_POINTER(device.id));
        }
        g_value_unset(&item);
    }
    gst_iterator_free(it);
}

gboolean OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    Device* device = FindDeviceById(GPOINTER_TO_UINT(data));
    if (!device) return G_SOURCE_CONTINUE;
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            if (device->mode == Mode::Playing) {
                device->mode = Mode::Stopped;
                device->Notify(MCI_NOTIFY_SUCCESSFUL);
            }
            break;
        case GST_MESSAGE_ERROR:
            device->mode = Mode::Stopped;
            gst_element_set_state(device->pipeline.get(), GST_STATE_PAUSED);
            device->Notify(MCI_NOTIFY_FAILURE);
            break;
        default:
            break;
    }
    return G_SOURCE_CONTINUE;
}

// Error code of a pipeline that failed to preroll: a fault of the output or of the file.
uint32_t PrerollError(GstElement* pipeline) {
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline));
    MessagePtr message(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
    if (!message) return MCIERR_INVALID_FILE;
    GError* raw = nullptr;
    gst_message_parse_error(message.get(), &raw, nullptr);
    ErrorPtr error(raw);
    const bool fromSink = GST_IS_ELEMENT(GST_MESSAGE_SRC(message.get())) &&
                          GST_OBJECT_FLAG_IS_SET(GST_MESSAGE_SRC(message.get()), GST_ELEMENT_FLAG_SINK);
    if (error && error->domain == GST_RESOURCE_ERROR && fromSink) return MCIERR_HARDWARE;
    return MCIERR_INVALID_FILE;
}

// ---- Render mode without a pipeline ----
// In render mode a file that needs no conversion beyond mixing to the two output channels (MP3,
// or 16-bit PCM WAVE, at the render rate) is decoded at open straight into memory and written
// out by play: no pipeline is built, so a long utterance renders at the speed of the decoder.
// Any other file, and a device whose speed is changed, goes through GStreamer as usual.

// The MP3 decoded at the render rate and mixed down to one channel.
std::optional<std::vector<int16_t>> DecodeMp3(const std::string& path) {
    std::optional<DecodedMp3> decoded = DecodeMp3File(path);
    if (!decoded || decoded->rate != kRenderRate || (decoded->channels != 1 && decoded->channels != 2))
        return std::nullopt;
    std::vector<int16_t>& samples = decoded->samples;
    if (decoded->channels == 2) {
        for (size_t i = 0; i + 1 < samples.size(); i += 2)
            samples[i / 2] = static_cast<int16_t>((samples[i] + samples[i + 1]) / 2);
        samples.resize(samples.size() / 2);
    }
    if (samples.empty()) return std::nullopt;
    return std::move(samples);
}

uint32_t Le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

std::optional<std::vector<int16_t>> ReadPcmWave(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12) return std::nullopt;
    uint16_t channels = 0, bits = 0, format = 0;
    uint32_t rate = 0;
    for (size_t pos = 12; pos + 8 <= bytes.size();) {
        const uint32_t size = Le32(&bytes[pos + 4]);
        const size_t body = pos + 8;
        const size_t available = std::min<size_t>(size, bytes.size() - body);
        if (std::memcmp(&bytes[pos], "fmt ", 4) == 0 && available >= 16) {
            format = Le16(&bytes[body]);
            channels = Le16(&bytes[body + 2]);
            rate = Le32(&bytes[body + 4]);
            bits = Le16(&bytes[body + 14]);
        } else if (std::memcmp(&bytes[pos], "data", 4) == 0) {
            if (format != 1 || bits != 16 || rate != kRenderRate || (channels != 1 && channels != 2)) return std::nullopt;
            std::vector<int16_t> samples;
            const size_t frames = available / (2u * channels);
            samples.reserve(frames);
            for (size_t f = 0; f < frames; ++f) {
                const unsigned char* frame = &bytes[body + f * 2u * channels];
                int32_t sum = static_cast<int16_t>(Le16(frame));
                if (channels == 2) sum = (sum + static_cast<int16_t>(Le16(frame + 2))) / 2;
                samples.push_back(static_cast<int16_t>(sum));
            }
            if (samples.empty()) return std::nullopt;
            return samples;
        }
        if (size > bytes.size()) break;
        pos = body + size + (size & 1u);
    }
    return std::nullopt;
}

constexpr size_t kRenderCacheLimit = 32 * 1024 * 1024;  // samples (64 MB)

// The identity of a file's content: path, device, inode, size and modification time.
std::optional<std::string> FileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return path + '\n' + std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' + std::to_string(st.st_size) +
           ':' + std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

std::shared_ptr<const std::vector<int16_t>> DecodeForRender(const std::string& path) {
    Module& m = M();
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

void ClearRenderCache() {
    M().renderCache.clear();
    M().renderCacheSamples = 0;
}

// Decodes the device's file for direct rendering; false when it needs a pipeline.
bool LoadDirect(Device& device) {
    device.pcm = DecodeForRender(device.path);
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
    Module& m = M();
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

// Builds the device's pipeline and prerolls it (paused at the start, length known).
uint32_t BuildPipeline(Device& device) {
    GError* raw = nullptr;
    const std::string decoder = DecoderFor(device.path);
    GstElement* built = gst_parse_launch(PipelineDescription(decoder).c_str(), &raw);
    ErrorPtr error(raw);
    if (!built) return MCIERR_CANNOT_LOAD_DRIVER;
    device.pipeline.reset(GST_ELEMENT(gst_object_ref_sink(built)));
    if (error) return MCIERR_CANNOT_LOAD_DRIVER;  // a partly built pipeline (e.g. an unknown sink)
    GstBin* bin = GST_BIN(device.pipeline.get());
    GstPtr<GstElement> source(gst_bin_get_by_name(bin, "src"));
    GstPtr<GstElement> levels(gst_bin_get_by_name(bin, "levels"));
    device.tempo.reset(gst_bin_get_by_name(bin, "tempo"));
    if (!source || !levels || !device.tempo) return MCIERR_CANNOT_LOAD_DRIVER;
    g_object_set(source.get(), "location", device.path.c_str(), nullptr);
    SetLevels(levels.get());
    if (M().render.IsOpen() || M().observer) ConnectHandoffs(device);

    GstStateChangeReturn change = gst_element_set_state(device.pipeline.get(), GST_STATE_PAUSED);
    if (change == GST_STATE_CHANGE_ASYNC)
        change = gst_element_get_state(device.pipeline.get(), nullptr, nullptr, kStateChangeTimeout);
    if (change == GST_STATE_CHANGE_FAILURE || change == GST_STATE_CHANGE_ASYNC) {
        uint32_t code = PrerollError(device.pipeline.get());
        gst_element_set_state(device.pipeline.get(), GST_STATE_NULL);
        return code;
    }
    gint64 duration = 0;
    if (IsMp3Decoder(decoder)) device.lengthNs = Mp3LengthNs(device.path);
    else if (gst_element_query_duration(device.pipeline.get(), GST_FORMAT_TIME, &duration) && duration > 0)
        device.lengthNs = duration;
    GstPtr<GstBus> bus(gst_element_get_bus(device.pipeline.get()));
    device.busWatch = gst_bus_add_watch(bus.get(), OnBusMessage, GUINT_TO_POINTER(device.id));
    return 0;
}

// ---- Commands ----
uint32_t Open(const std::string& command, const std::vector<Token>& tokens) {
    if (tokens.size() < 2) return MCIERR_MISSING_DEVICE_NAME;
    OpenOptions options;
    std::string path;
    if (tokens[1].quoted) {
        path = tokens[1].text;
        if (uint32_t code = ParseOpenKeywords(tokens, 2, options)) return code;
    } else {
        // An unquoted path may hold blanks: it ends where the rest reads as keywords.
        size_t k = 2;
        while (k < tokens.size() && ParseOpenKeywords(tokens, k, options) != 0) ++k;
        if (k == tokens.size()) options = OpenOptions{};
        path = command.substr(tokens[1].begin, tokens[k - 1].end - tokens[1].begin);
    }
    if (options.type) {
        const std::string type = Lower(*options.type);
        if (type != "mpegvideo" && type != "mpegvideo2" && type != "waveaudio" && type != "mpegaudio")
            return MCIERR_CANNOT_LOAD_DRIVER;
    }
    const std::string alias = options.alias.value_or(path);
    if (alias.empty()) return MCIERR_MISSING_DEVICE_NAME;
    if (FindDevice(alias)) return MCIERR_DUPLICATE_ALIAS;
    if (!IsRegularFile(path)) return MCIERR_FILE_NOT_FOUND;
    if (!EnsureGstreamer()) return MCIERR_INTERNAL;

    auto device = std::make_unique<Device>();
    device->id = M().nextId++;
    device->alias = alias;
    device->path = path;
    if (!(M().render.IsOpen() && LoadDirect(*device)))
        if (uint32_t code = BuildPipeline(*device)) return code;
    M().devices.emplace(Lower(alias), std::move(device));
    return 0;
}

uint32_t Close(const std::vector<Token>& tokens) {
    if (tokens.size() < 2) return MCIERR_MISSING_DEVICE_NAME;
    if (tokens[1].lower() == "all") {
        for (auto& [key, device] : M().devices) device->Notify(MCI_NOTIFY_ABORTED);
        M().devices.clear();
        return 0;
    }
    for (size_t i = 2; i < tokens.size(); ++i) {
        const std::string word = tokens[i].lower();
        if (word != "notify" && word != "wait") return MCIERR_UNRECOGNIZED_KEYWORD;
    }
    auto it = M().devices.find(tokens[1].lower());
    if (it == M().devices.end()) return MCIERR_INVALID_DEVICE_NAME;
    it->second->Notify(MCI_NOTIFY_ABORTED);
    M().devices.erase(it);
    return 0;
}

uint32_t Set(Device& device, const std::vector<Token>& tokens) {
    if (tokens.size() < 3) return MCIERR_MISSING_PARAMETER;
    const std::string what = tokens[2].lower();
    if (what == "speed") {
        if (tokens.size() < 4) return MCIERR_MISSING_PARAMETER;
        if (tokens.size() > 4) return MCIERR_UNRECOGNIZED_KEYWORD;
        auto speed = ParseInteger(tokens[3].text);
        if (!speed) return MCIERR_BAD_INTEGER;
        if (*speed <= 0 || *speed > 100000) return MCIERR_OUTOFRANGE;
        if (device.direct && *speed != 1000) {
            // Only a pipeline changes the tempo: the decoded samples give way to one.
            if (uint32_t code = BuildPipeline(device)) {
                device.pipeline.reset();
                return code;
            }
            device.direct = false;
            device.pcm.reset();
        }
        device.speed = static_cast<int32_t>(*speed);
        if (device.direct) return 0;
        const double tempo = std::clamp(static_cast<double>(*speed) / 1000.0, 0.1, 10.0);
        g_object_set(device.tempo.get(), "tempo", static_cast<gfloat>(tempo), nullptr);
        return 0;
    }
    if (what == "time") {
        if (tokens.size() < 5 || tokens[3].lower() != "format") return MCIERR_MISSING_PARAMETER;
        if (tokens.size() > 5) return MCIERR_UNRECOGNIZED_KEYWORD;
        const std::string format = tokens[4].lower();
        if (format == "frames") device.timeFormatFrames = true;
        else if (format == "milliseconds" || format == "ms") device.timeFormatFrames = false;
        else return MCIERR_BAD_TIME_FORMAT;
        return 0;
    }
    return MCIERR_UNRECOGNIZED_KEYWORD;
}

int64_t PositionFrames(Device& device) {
    gint64 position = 0;
    if (device.direct) return device.directPositionFrames;
    if (device.mode == Mode::Stopped && device.everPlayed) return device.LengthFrames();
    if (!gst_element_query_position(device.pipeline.get(), GST_FORMAT_TIME, &position) || position < 0) return 0;
    return position / kNanosPerFrame;
}

uint32_t Status(Device& device, const std::vector<Token>& tokens, std::string& answer) {
    if (tokens.size() < 3) return MCIERR_MISSING_PARAMETER;
    const std::string what = tokens[2].lower();
    // Frames and milliseconds are the same unit (see mci.h).
    if (what == "length" && tokens.size() == 3) answer = std::to_string(device.LengthFrames());
    else if (what == "position" && tokens.size() == 3) answer = std::to_string(PositionFrames(device));
    else if (what == "speed" && tokens.size() == 3) answer = std::to_string(device.speed);
    else if (what == "mode" && tokens.size() == 3)
        answer = device.mode == Mode::Playing ? "playing" : device.mode == Mode::Paused ? "paused" : "stopped";
    else if (what == "time" && tokens.size() == 4 && tokens[3].lower() == "format")
        answer = device.timeFormatFrames ? "frames" : "milliseconds";
    else return MCIERR_UNRECOGNIZED_KEYWORD;
    return 0;
}

uint32_t Play(Device& device, const std::vector<Token>& tokens, NotifySink* callback) {
    std::optional<int64_t> from, to;
    bool notify = false;
    for (size_t i = 2; i < tokens.size(); ++i) {
        const std::string word = tokens[i].lower();
        if (word == "notify") {
            if (notify) return MCIERR_DUPLICATE_FLAGS;
            notify = true;
        } else if (word == "from" || word == "to") {
            if (i + 1 >= tokens.size()) return MCIERR_MISSING_PARAMETER;
            auto& slot = word == "from" ? from : to;
            if (slot) return MCIERR_DUPLICATE_FLAGS;
            slot = ParseInteger(tokens[++i].text);
            if (!slot) return MCIERR_BAD_INTEGER;
        } else {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    const int64_t length = device.LengthFrames();
    const int64_t start = from.value_or(PositionFrames(device) >= length ? 0 : PositionFrames(device));
    const int64_t end = to.value_or(length);
    if (start < 0 || end < 0 || end > length || start > end) return MCIERR_OUTOFRANGE;

    device.Notify(MCI_NOTIFY_SUPERSEDED);
    device.notifyTarget = notify ? callback : nullptr;
    if (device.direct) {  // written at once; the completion follows on the main loop
        RenderDirect(device, start, end);
        device.mode = Mode::Stopped;
        device.everPlayed = true;
        device.directPositionFrames = end;
        device.Notify(MCI_NOTIFY_SUCCESSFUL);
        return 0;
    }
    GstElement* pipeline = device.pipeline.get();
    if (start == end) {  // nothing to play: done at once
        gst_element_set_state(pipeline, GST_STATE_PAUSED);
        device.mode = Mode::Stopped;
        device.everPlayed = true;
        device.Notify(MCI_NOTIFY_SUCCESSFUL);
        return 0;
    }
    if (device.everPlayed || start != 0 || end != length) {
        // Replaying or playing a part: drop what the last run left on the bus, then seek.
        GstPtr<GstBus> bus(gst_element_get_bus(pipeline));
        gst_bus_set_flushing(bus.get(), TRUE);
        gst_bus_set_flushing(bus.get(), FALSE);
        gst_element_set_state(pipeline, GST_STATE_PAUSED);
        const bool toTheEnd = end == length;
        if (!gst_element_seek(pipeline, 1.0, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                              GST_SEEK_TYPE_SET, start * kNanosPerFrame, toTheEnd ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET,
                              toTheEnd ? GST_CLOCK_TIME_NONE : end * kNanosPerFrame)) {
            device.notifyTarget = nullptr;
            return MCIERR_HARDWARE;
        }
    }
    device.everPlayed = true;
    device.mode = Mode::Playing;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        device.mode = Mode::Stopped;
        device.notifyTarget = nullptr;
        return MCIERR_HARDWARE;
    }
    return 0;
}

uint32_t Stop(Device& device, const std::vector<Token>& tokens, NotifySink* callback) {
    bool notify = false;
    for (size_t i = 2; i < tokens.size(); ++i) {
        const std::string word = tokens[i].lower();
        if (word == "notify") notify = true;
        else if (word != "wait") return MCIERR_UNRECOGNIZED_KEYWORD;
    }
    device.Notify(MCI_NOTIFY_ABORTED);
    if (device.mode == Mode::Playing) {
        gst_element_set_state(device.pipeline.get(), GST_STATE_PAUSED);
        device.mode = Mode::Paused;
    }
    if (notify && callback) {
        device.notifyTarget = callback;
        device.Notify(MCI_NOTIFY_SUCCESSFUL);
    }
    return 0;
}

}  // namespace

uint32_t mciSendString(const std::string& command, std::string& returnBuffer, NotifySink* callback) {
    returnBuffer.clear();
    std::vector<Token> tokens;
    if (uint32_t code = Tokenise(command, tokens)) return code;
    if (tokens.empty()) return MCIERR_MISSING_COMMAND_STRING;
    const std::string verb = tokens[0].lower();
    if (verb == "open") return Open(command, tokens);
    if (verb == "close") return Close(tokens);
    if (verb != "set" && verb != "status" && verb != "play" && verb != "stop") return MCIERR_UNRECOGNIZED_COMMAND;
    if (tokens.size() < 2) return MCIERR_MISSING_DEVICE_NAME;
    Device* device = FindDevice(tokens[1].text);
    if (!device) return MCIERR_INVALID_DEVICE_NAME;
    if (verb == "set") return Set(*device, tokens);
    if (verb == "status") return Status(*device, tokens, returnBuffer);
    if (verb == "play") return Play(*device, tokens, callback);
    return Stop(*device, tokens, callback);
}

std::string mciGetErrorString(uint32_t code) {
    switch (code) {
        case MCIERR_NONE: return "The specified command was carried out.";
        case MCIERR_UNRECOGNIZED_KEYWORD: return "The driver cannot recognize the specified command parameter.";
        case MCIERR_UNRECOGNIZED_COMMAND: return "The driver cannot recognize the specified command.";
        case MCIERR_HARDWARE:
            return "There is a problem with your media device. Make sure it is working correctly or contact the device "
                   "manufacturer.";
        case MCIERR_INVALID_DEVICE_NAME: return "The specified device is not open or is not recognized by MCI.";
        case MCIERR_CANNOT_LOAD_DRIVER: return "The specified device driver cannot be loaded.";
        case MCIERR_MISSING_COMMAND_STRING: return "No command was specified.";
        case MCIERR_BAD_INTEGER: return "The specified integer is invalid for this command.";
        case MCIERR_MISSING_PARAMETER: return "The specified command requires a parameter. Please supply one.";
        case MCIERR_UNSUPPORTED_FUNCTION: return "The MCI device you are using does not support the specified command.";
        case MCIERR_FILE_NOT_FOUND: return "Cannot find the specified file. Make sure the path and filename are correct.";
        case MCIERR_INTERNAL: return "A problem occurred in initializing MCI.";
        case MCIERR_OUTOFRANGE: return "The specified parameter is out of range for the specified command.";
        case MCIERR_DUPLICATE_ALIAS:
            return "The specified alias is already being used in this application. Use a unique alias.";
        case MCIERR_MISSING_DEVICE_NAME:
            return "The specified command requires an alias, file, driver, or device name. Please supply one.";
        case MCIERR_BAD_TIME_FORMAT: return "The specified MCI time format is invalid.";
        case MCIERR_NO_CLOSING_QUOTE:
            return "A closing double-quotation mark is missing from the parameter value. Please supply one.";
        case MCIERR_DUPLICATE_FLAGS: return "A parameter or value was specified twice. Only specify it once.";
        case MCIERR_INVALID_FILE:
            return "The specified file cannot be played on the specified MCI device. The file may be corrupt, or not in "
                   "the correct format.";
        default: return "Unknown MCI error " + std::to_string(code) + ".";
    }
}

uint32_t mciGetDeviceID(const std::string& alias) {
    Device* device = FindDevice(alias);
    return device ? device->id : 0;
}

void ForgetNotifySink(const NotifySink* sink) {
    for (auto& [key, device] : M().devices)
        if (device->notifyTarget == sink) device->notifyTarget = nullptr;
}

void SetAudioSink(const std::string& description) { M().sinkDescription = description; }

std::string AudioSinkDescription() {
    if (!M().sinkDescription.empty()) return M().sinkDescription;
    if (!EnsureGstreamer()) return kFallbackSink;
    return ResolveDefaultSink();
}

void SetOutputLevels(uint16_t left, uint16_t right) {
    M().leftLevel = left;
    M().rightLevel = right;
}

std::pair<uint16_t, uint16_t> OutputLevels() { return {M().leftLevel, M().rightLevel}; }

uint32_t BeginRender(const std::string& wavPath) {
    Module& m = M();
    ClearRenderCache();
    std::lock_guard lock(m.streamMutex);
    if (m.render.IsOpen()) m.render.Close();
    return m.render.Open(wavPath) ? 0u : static_cast<uint32_t>(MCIERR_FILE_NOT_FOUND);
}

uint32_t EndRender() {
    Module& m = M();
    ClearRenderCache();
    std::lock_guard lock(m.streamMutex);
    if (!m.render.IsOpen()) return 0;
    return m.render.Close() ? 0u : static_cast<uint32_t>(MCIERR_FILE_NOT_FOUND);
}

bool IsRendering() {
    std::lock_guard lock(M().streamMutex);
    return M().render.IsOpen();
}

void SetBufferObserver(BufferObserver observer) {
    std::lock_guard lock(M().streamMutex);
    M().observer = std::move(observer);
}

void CloseAll() { M().devices.clear(); }

}  // namespace mci
