#pragma once
// Inside the media control interface (not for callers of mci.h): the device record, the device
// table and what its parts share. The parts: the device table (mciDeviceTable.cpp), the command
// parser (mciCommands.cpp), the GStreamer pipeline of a device (mciPipeline.cpp) and render mode
// (mciRender.cpp).
#include <gst/gst.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "NotifySink.h"
#include "WaveFile.h"
#include "mci.h"

namespace mci::detail {

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

inline ValuePtr NewValue(GType type) {
    ValuePtr value(new GValue G_VALUE_INIT);
    g_value_init(value.get(), type);
    return value;
}

constexpr int64_t kNanosPerFrame = GST_SECOND / kFramesPerSecond;
constexpr const char* kFallbackSink = "fakesink sync=true";
constexpr GstClockTime kStateChangeTimeout = 10 * GST_SECOND;

inline std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// ---- Devices ----
enum class Mode { Stopped, Playing, Paused };

struct DeviceTable;

struct Device {
    DeviceTable* table = nullptr;  // the table that holds the device
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

// The devices of one engine object and their settings. The devices are declared last so that
// they are closed (their streaming threads stopped) before the render file and the observer that
// those threads use go away.
struct DeviceTable {
    uint32_t nextId = 1;
    std::string sinkDescription;
    std::optional<std::string> resolvedDefaultSink;
    uint16_t leftLevel = 65535;
    uint16_t rightLevel = 65535;

    std::mutex streamMutex;  // guards what streaming threads touch
    WaveFile::Writer render;
    // Decoded files of the current render, by file identity: an utterance plays the same word
    // file many times. Emptied when render mode begins and ends.
    std::map<std::string, std::shared_ptr<const std::vector<int16_t>>> renderCache;
    size_t renderCacheSamples = 0;
    BufferObserver observer;

    std::map<std::string, std::unique_ptr<Device>> devices;  // key: lower-case alias

    Device* Find(const std::string& alias) const;
};

// Initialises GStreamer once for the process (the library itself is process-wide).
bool EnsureGstreamer();
bool IsRegularFile(const std::string& path);

// ---- Pipelines (mciPipeline.cpp) ----
bool IsMp3Decoder(const std::string& decoder);
// The decoding elements for a file, from its first bytes.
std::string DecoderFor(const std::string& path);
std::string ResolveDefaultSink(DeviceTable& table);
// Builds the device's pipeline and prerolls it (paused at the start, length known).
uint32_t BuildPipeline(Device& device);

// ---- Render mode (mciRender.cpp) ----
void ClearRenderCache(DeviceTable& table);
// Decodes the device's file for direct rendering; false when it needs a pipeline.
bool LoadDirect(Device& device);
// Writes the frames start..end of a direct device into the render file with the output levels.
void RenderDirect(const Device& device, int64_t start, int64_t end);

}  // namespace mci::detail
