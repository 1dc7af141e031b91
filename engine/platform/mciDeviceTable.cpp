#include <cstring>
#include <sys/stat.h>

#include "mciDevice.h"

namespace mci {
namespace detail {

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

}  // namespace detail

using namespace detail;

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

void SetBufferObserver(BufferObserver observer) {
    std::lock_guard lock(M().streamMutex);
    M().observer = std::move(observer);
}

void CloseAll() { M().devices.clear(); }
}  // namespace mci
