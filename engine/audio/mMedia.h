#pragma once
// The media channel: the handful of device commands the engine sends to play its word files
// (open under an alias, set the speed, play with a completion notification, stop, close, ask the
// length). Each command is one text line, logged before and after it is sent; its error code is
// kept and, on failure, logged with the error's text.
#include <cstdint>
#include <string>
#include <variant>

class NotifySink;

namespace mci {
class Devices;
}
namespace mHook {
class Playlist;
}
namespace mLog {
class Log;
}

namespace mMedia {

// A play position: a frame number, or a text ("TheEnd" asks for the file's length).
using Position = std::variant<int64_t, std::string>;

// The media channel of one engine object: sends to its devices, logs to its log and marks its
// playlist's pending stop.
class Channel {
public:
    Channel(mci::Devices& devices, mHook::Playlist& playlist, const mLog::Log& log);
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // The sink that receives the completion notifications (named as "parent" of every device).
    void SetCallbackWindow(NotifySink* window) { callbackWindow_ = window; }
    NotifySink* CallbackWindow() const { return callbackWindow_; }

    // Keeps the speed offset (the device speed is 1000 + offset) for the utterance about to start.
    void MediaInit(int32_t speedOffset) { speedOffset_ = speedOffset; }
    // The path of an existing file unchanged; otherwise path & "Silence.mp3", where the bare name
    // (from an empty path) is the silence recording installed with the engine's data.
    std::string MediaFilePath(const std::string& path) const;
    void MediaOpen(const std::string& path, const std::string& alias);
    void MediaClose(const std::string& alias);
    // Sets the speed, then plays from..to with notification. Raises error 6 when 1000 + offset
    // overflows.
    void MediaPlay(const std::string& alias, const Position& from, const Position& to);
    // Stops with notification and sets the playlist's stop-pending flag, whatever the result.
    void MediaStop(const std::string& alias);
    // Length of the open file in frames, or -1.
    int32_t MediaLengthFrames(const std::string& alias);

    // Result of the most recent command (0 = success) and its text.
    int32_t LastError() const { return lastError_; }
    const std::string& LastCommand() const { return lastCommand_; }
    // The device id under which an alias is open (0 when it is not).
    uint32_t MediaDeviceId(const std::string& alias) const;

private:
    int32_t Send(const std::string& command, std::string& answer, NotifySink* callback);
    void SendLogged(const std::string& command, std::string& answer, NotifySink* callback);
    void LogIfEnabled(const std::string& line) const;
    void LogFailure(const std::string& what, const std::string& alias) const;

    mci::Devices& devices_;
    mHook::Playlist& playlist_;
    const mLog::Log& log_;
    NotifySink* callbackWindow_ = nullptr;
    std::string lastCommand_;
    int32_t lastError_ = 0;
    int32_t speedOffset_ = 0;
};

std::string MediaErrorText(int32_t code);

// Folder of the engine's installed data (holds Silence.mp3): $RAVEK_DATA_DIR, else
// <program folder>/../share/ravek, else the installation's data folder.
std::string DataFolder();

}  // namespace mMedia
