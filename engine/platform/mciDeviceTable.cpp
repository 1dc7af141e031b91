#include <cstring>
#include <mutex>
#include <sys/stat.h>

#include "mciDevice.h"

namespace mci {
namespace detail {
namespace {

// mpg123audiodec of GStreamer 1.22 hands the decoder base class an empty buffer for the first
// frame of a gapless MP3 (the LAME tag frame decodes to no samples), which trips a harmless
// precondition check once per file played. That one message is dropped; all others pass on.
void DropEmptyDecoderBufferNoise(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    if (message && std::strstr(message, "gst_audio_decoder_allocate_output_buffer: assertion 'size > 0' failed")) return;
    g_log_default_handler(domain, level, message, nullptr);
}

}  // namespace

Device* DeviceTable::Find(const std::string& alias) const {
    auto it = devices.find(Lower(alias));
    return it == devices.end() ? nullptr : it->second.get();
}

bool EnsureGstreamer() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        ready = gst_init_check(nullptr, nullptr, nullptr);
        if (ready) g_log_set_handler("GStreamer-Audio", G_LOG_LEVEL_CRITICAL, DropEmptyDecoderBufferNoise, nullptr);
    });
    return ready;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace detail

using namespace detail;

Devices::Devices() : table_(std::make_unique<DeviceTable>()) {}

Devices::~Devices() = default;

uint32_t Devices::mciGetDeviceID(const std::string& alias) const {
    Device* device = table_->Find(alias);
    return device ? device->id : 0;
}

void Devices::ForgetNotifySink(const NotifySink* sink) {
    for (auto& [key, device] : table_->devices)
        if (device->notifyTarget == sink) device->notifyTarget = nullptr;
}

void Devices::SetAudioSink(const std::string& description) {
    // A plain autoaudiosink is the default: it goes through the probe, which finds out quietly
    // whether there is an audio output at all.
    const size_t first = description.find_first_not_of(" \t");
    const size_t last = description.find_last_not_of(" \t");
    const bool plainAuto = first != std::string::npos && description.substr(first, last - first + 1) == "autoaudiosink";
    table_->sinkDescription = plainAuto ? std::string() : description;
}

std::string Devices::AudioSinkDescription() {
    if (!table_->sinkDescription.empty()) return table_->sinkDescription;
    if (!EnsureGstreamer()) return kFallbackSink;
    return ResolveDefaultSink(*table_);
}

void Devices::SetOutputLevels(uint16_t left, uint16_t right) {
    table_->leftLevel = left;
    table_->rightLevel = right;
}

std::pair<uint16_t, uint16_t> Devices::OutputLevels() const { return {table_->leftLevel, table_->rightLevel}; }

void Devices::SetBufferObserver(BufferObserver observer) {
    std::lock_guard lock(table_->streamMutex);
    table_->observer = std::move(observer);
}

void Devices::CloseAll() { table_->devices.clear(); }

}  // namespace mci
