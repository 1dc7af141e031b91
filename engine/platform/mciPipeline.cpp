#include <mpg123.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "mciDevice.h"

namespace mci::detail {
namespace {

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

// Whether anything autoaudiosink could play to is there: a sound server's socket (PulseAudio,
// PipeWire) or an ALSA or OSS playback device. Without any, probing autoaudiosink only makes the
// sound libraries print their internal errors (ALSA, OpenAL, the sound server client) on the
// way to finding nothing.
bool MayHaveAudioOutput() {
    if (const char* server = std::getenv("PULSE_SERVER"); server && *server) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string userRuntime = runtime && *runtime ? runtime : "/run/user/" + std::to_string(::geteuid());
    std::error_code ec;
    for (const std::string& socket : {userRuntime + "/pulse/native", userRuntime + "/pipewire-0",
                                      std::string("/run/pulse/native"), std::string("/dev/dsp")})
        if (std::filesystem::exists(socket, ec)) return true;
    for (std::filesystem::directory_iterator it("/dev/snd", ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().rfind("pcmC", 0) == 0) return true;
    return false;
}

}  // namespace

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

std::string ResolveDefaultSink(DeviceTable& m) {
    if (!m.resolvedDefaultSink) {
        GstPtr<GstElement> probe(MayHaveAudioOutput() ? gst_element_factory_make("autoaudiosink", nullptr) : nullptr);
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

namespace {

std::string PipelineDescription(DeviceTable& table, const std::string& decoder) {
    const bool rendering = table.render.IsOpen();
    std::string description = "filesrc name=src ! " + decoder + " ! audioconvert ! audioresample ! audio/x-raw,channels=1";
    if (rendering) description += ",rate=" + std::to_string(kRenderRate);
    description += " ! pitch name=tempo ! audioconvert name=levels ! audio/x-raw,channels=2";
    if (rendering)
        description += ",format=S16LE,layout=interleaved ! fakesink name=render sync=false signal-handoffs=true";
    else
        description += " ! " + (table.sinkDescription.empty() ? ResolveDefaultSink(table) : table.sinkDescription);
    return description;
}

void SetLevels(const DeviceTable& table, GstElement* levels) {
    auto matrix = NewValue(GST_TYPE_ARRAY);
    for (uint16_t level : {table.leftLevel, table.rightLevel}) {
        auto row = NewValue(GST_TYPE_ARRAY);
        auto gain = NewValue(G_TYPE_FLOAT);
        g_value_set_float(gain.get(), static_cast<float>(level) / 65535.0f);
        gst_value_array_append_value(row.get(), gain.get());
        gst_value_array_append_value(matrix.get(), row.get());
    }
    g_object_set_property(G_OBJECT(levels), "mix-matrix", matrix.get());
}

// Runs on a streaming thread; the device outlives its pipeline's threads (closing it stops them).
void OnHandoff(GstElement*, GstBuffer* buffer, GstPad*, gpointer data) {
    const Device& device = *static_cast<const Device*>(data);
    DeviceTable& m = *device.table;
    std::lock_guard lock(m.streamMutex);
    if (m.render.IsOpen()) {
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            m.render.Append(map.data, map.size);
            gst_buffer_unmap(buffer, &map);
        }
    }
    if (m.observer) m.observer(device.id, GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : 0);
}

void ConnectHandoffs(Device& device) {
    GstIterator* it = gst_bin_iterate_sinks(GST_BIN(device.pipeline.get()));
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElement* sink = GST_ELEMENT(g_value_get_object(&item));
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "signal-handoffs")) {
            g_object_set(sink, "signal-handoffs", TRUE, nullptr);
            g_signal_connect(sink, "handoff", G_CALLBACK(OnHandoff), &device);
        }
        g_value_unset(&item);
    }
    gst_iterator_free(it);
}

// The watch is removed when the device closes, so `data` is always a live device.
gboolean OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    Device* device = static_cast<Device*>(data);
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

}  // namespace

uint32_t BuildPipeline(Device& device) {
    GError* raw = nullptr;
    const std::string decoder = DecoderFor(device.path);
    GstElement* built = gst_parse_launch(PipelineDescription(*device.table, decoder).c_str(), &raw);
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
    SetLevels(*device.table, levels.get());
    if (device.table->render.IsOpen() || device.table->observer) ConnectHandoffs(device);

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
    device.busWatch = gst_bus_add_watch(bus.get(), OnBusMessage, &device);
    return 0;
}

}  // namespace mci::detail
