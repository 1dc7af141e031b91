#pragma once
// A small media control interface on GStreamer: text commands addressed to named devices
// (aliases), each device one GStreamer pipeline playing one audio file, with completion
// notifications posted to a NotifySink as message 953 (MM_MCINOTIFY).
//
// Commands understood (command words and keywords are case-insensitive):
//   open <path> [type <device type>] [alias <a>] [parent <n>] [style <n>] [notify] [wait] [shareable]
//        <path> may be written in double quotes, where "" stands for one quote character of the
//        path; without quotes it may contain blanks but must not start with a quote.
//   close <a> | close all
//   set <a> speed <n>                 1000 = normal speed (tempo n / 1000, pitch kept)
//   set <a> time format frames|milliseconds|ms
//   status <a> length|position|mode|speed|time format
//   play <a> [from <n>] [to <n>] [notify] [wait]
//   stop <a> [notify] [wait]
//
// Time: the two formats count the same unit. One frame is 1/1000 second (kFramesPerSecond), so a
// length in frames equals the length in milliseconds, rounded to the nearest frame; a play "to
// <length>" always plays to the very end of the file. The default time format is milliseconds.
//
// Notifications (wParam of message 953; lParam is the device id of mciGetDeviceID):
//   1 successful  - a play with notify reached its "to" position, or a stop with notify succeeded;
//   2 superseded  - a newer play with notify replaced a pending one;
//   4 aborted     - a stop or close cut a pending play short;
//   8 failure     - the device failed while playing (e.g. a decoding error).
// open, close, set and status never notify. A command that fails returns its error code and
// posts nothing.
//
// Every engine object owns one device table (Devices): its aliases, settings, render file and
// buffer observer are its own, so two engines in one process never see each other's devices.
//
// Threads: every function runs on the thread that owns the GLib main context in use when the
// devices were opened; the bus watches of the pipelines dispatch on that (thread-default)
// context, so completion is noticed only while its main loop runs.
//
// Output: every device plays through the configured audio sink (a GStreamer element description,
// "autoaudiosink" by default, "fakesink sync=true" for a silent, real-time sink) after a mixing
// stage that gives the left and right channels their own level (SetOutputLevels). In render mode
// (BeginRender) no sink plays: each device's decoded audio is appended, as fast as it can be
// decoded, to one WAVE file, and the play completes as soon as its audio is written.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

class NotifySink;

namespace mci {

constexpr int64_t kFramesPerSecond = 1000;

constexpr long MCI_NOTIFY_SUCCESSFUL = 1;
constexpr long MCI_NOTIFY_SUPERSEDED = 2;
constexpr long MCI_NOTIFY_ABORTED = 4;
constexpr long MCI_NOTIFY_FAILURE = 8;

// The error codes this implementation returns (their classic MCI numbers).
enum ErrorCode : uint32_t {
    MCIERR_NONE = 0,
    MCIERR_UNRECOGNIZED_KEYWORD = 259,
    MCIERR_UNRECOGNIZED_COMMAND = 261,
    MCIERR_HARDWARE = 262,
    MCIERR_INVALID_DEVICE_NAME = 263,
    MCIERR_CANNOT_LOAD_DRIVER = 266,
    MCIERR_MISSING_COMMAND_STRING = 267,
    MCIERR_BAD_INTEGER = 270,
    MCIERR_MISSING_PARAMETER = 273,
    MCIERR_UNSUPPORTED_FUNCTION = 274,
    MCIERR_FILE_NOT_FOUND = 275,
    MCIERR_INTERNAL = 277,
    MCIERR_OUTOFRANGE = 282,
    MCIERR_DUPLICATE_ALIAS = 289,
    MCIERR_BAD_TIME_FORMAT = 293,
    MCIERR_NO_CLOSING_QUOTE = 294,
    MCIERR_DUPLICATE_FLAGS = 295,
    MCIERR_INVALID_FILE = 296,
    MCIERR_MISSING_DEVICE_NAME = 292,
};

// The text of an error code ("The specified command was carried out." for 0).
std::string mciGetErrorString(uint32_t code);

constexpr int kRenderRate = 22050;
constexpr int kRenderChannels = 2;

// Called (on a streaming thread) for every buffer that a sink of a playing device renders, with
// the device id and the buffer's duration in nanoseconds. Only sinks that can signal hand-offs
// (fakesink) report. For measurements; pass an empty function to stop.
using BufferObserver = std::function<void(uint32_t deviceId, uint64_t durationNs)>;

namespace detail {
struct DeviceTable;
}

// The devices of one engine object and their settings. Destroying it closes every device without
// notifications.
class Devices {
public:
    Devices();
    ~Devices();
    Devices(const Devices&) = delete;
    Devices& operator=(const Devices&) = delete;

    // Runs one command. The answer of a status command lands in returnBuffer (which is otherwise
    // left empty). Commands with "notify" post their notification to `callback` (none when null).
    // Returns 0 or an error code.
    uint32_t mciSendString(const std::string& command, std::string& returnBuffer, NotifySink* callback);
    // The id of an open device (the lParam of its notifications), 0 when the alias is not open.
    uint32_t mciGetDeviceID(const std::string& alias) const;

    // Drops every pending notification addressed to `sink` (the sink is about to be destroyed).
    void ForgetNotifySink(const NotifySink* sink);
    // Audio sink description for devices opened from now on; empty means the default (see top).
    void SetAudioSink(const std::string& description);
    // The description new devices use (the default resolved: autoaudiosink, or "fakesink sync=true"
    // where no audio output can be opened).
    std::string AudioSinkDescription();

    // Left and right output levels, 0 (silent) to 65535 (full); apply to devices opened from now on.
    void SetOutputLevels(uint16_t left, uint16_t right);
    std::pair<uint16_t, uint16_t> OutputLevels() const;

    // Render mode: decoded audio of every device played from now on goes to one WAVE file (16-bit
    // PCM, kRenderRate, stereo) instead of the sink. Returns 0, or MCIERR_FILE_NOT_FOUND when the
    // file cannot be created. EndRender completes the file's header and leaves render mode.
    uint32_t BeginRender(const std::string& wavPath);
    uint32_t EndRender();
    bool IsRendering() const;

    void SetBufferObserver(BufferObserver observer);

    // Closes every device without notifications (before the owner of a callback sink goes away).
    void CloseAll();

private:
    std::unique_ptr<detail::DeviceTable> table_;
};

}  // namespace mci
