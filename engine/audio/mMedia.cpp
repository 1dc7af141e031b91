#include "mMedia.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <climits>
#include <filesystem>
#include <system_error>

#include "AutomationError.h"
#include "NotifySink.h"
#include "mHook.h"
#include "mLog.h"
#include "mci.h"

#ifndef RAVEK_INSTALL_DATADIR
#define RAVEK_INSTALL_DATADIR "/usr/local/share/ravek"
#endif

namespace fs = std::filesystem;

namespace mMedia {
namespace {

constexpr const char* kSilence = "Silence.mp3";
constexpr int64_t kChildWindowStyle = 1073741824;  // hexadecimal 40000000

std::string PositionText(const Position& p) {
    if (const auto* n = std::get_if<int64_t>(&p)) return std::to_string(*n);
    return std::get<std::string>(p);
}

// A path with white space or quote characters is written in quotes, its quotes doubled, so that
// any path reaches the device intact and the command text stays unambiguous.
std::string CommandPath(const std::string& path) {
    if (path.find_first_of(" \t\n\r\v\f\"") == std::string::npos) return path;
    std::string quoted = "\"";
    for (char c : path) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// The number at the start of the text (leading blanks skipped), rounded to a 32-bit integer.
int32_t LeadingNumber(const std::string& text) {
    size_t i = text.find_first_not_of(' ');
    if (i == std::string::npos) return 0;
    double value = 0;
    auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (ec != std::errc()) return 0;
    if (value > INT32_MAX || value < INT32_MIN) RuntimeErrors::Raise(RuntimeErrors::Overflow, "frame count " + text);
    return static_cast<int32_t>(std::lround(value));
}

}  // namespace

Channel::Channel(mci::Devices& devices, mHook::Playlist& playlist, const mLog::Log& log)
    : devices_(devices), playlist_(playlist), log_(log) {}

void Channel::LogIfEnabled(const std::string& line) const {
    // A log that cannot be written must not stop playback.
    if (log_.Progress()) log_.LogWriteQuietly(line);
}

int32_t Channel::Send(const std::string& command, std::string& answer, NotifySink* callback) {
    lastCommand_ = command;
    lastError_ = static_cast<int32_t>(devices_.mciSendString(command, answer, callback));
    return lastError_;
}

// Sends a command framed by the GOING/DONE log lines.
void Channel::SendLogged(const std::string& command, std::string& answer, NotifySink* callback) {
    LogIfEnabled("GOING to run :" + command + " ");
    Send(command, answer, callback);
    LogIfEnabled("DONE to run :" + command + " ");
}

void Channel::LogFailure(const std::string& what, const std::string& alias) const {
    if (lastError_ != 0) LogIfEnabled(what + alias + " " + MediaErrorText(lastError_));
}

std::string DataFolder() {
    if (const char* env = std::getenv("RAVEK_DATA_DIR"); env && *env) return env;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        fs::path candidate = exe.parent_path().parent_path() / "share" / "ravek";
        if (fs::exists(candidate / kSilence, ec)) return candidate.string();
    }
    return RAVEK_INSTALL_DATADIR;
}

std::string Channel::MediaFilePath(const std::string& path) const {
    try {
        std::error_code ec;
        if (!path.empty() && fs::is_regular_file(path, ec)) return path;
        if (path.empty()) return (fs::path(DataFolder()) / kSilence).string();
        return path + kSilence;
    } catch (const std::exception&) {
        LogIfEnabled("ERROR in getting ShortName " + path + " ");
        return "";
    }
}

void Channel::MediaOpen(const std::string& path, const std::string& alias) {
    const std::string file = MediaFilePath(path);
    const std::string command = "Open " + CommandPath(file) + " type MPEGVideo Alias " + alias + " parent " +
                                std::to_string(callbackWindow_ ? callbackWindow_->Handle() : 0) +
                                " Style " + std::to_string(kChildWindowStyle) + " notify";
    std::string answer;
    SendLogged(command, answer, nullptr);
    LogFailure("ERROR Opening alias ", alias);
}

void Channel::MediaClose(const std::string& alias) {
    std::string answer;
    SendLogged("close " + alias + " ", answer, callbackWindow_);
    LogFailure("ERROR Closing alias ", alias);
}

void Channel::MediaPlay(const std::string& alias, const Position& from, const Position& to) {
    Position end = to;
    if (const auto* text = std::get_if<std::string>(&to); text && *text == "TheEnd")
        end = static_cast<int64_t>(MediaLengthFrames(alias));
    int32_t speed = 0;
    if (__builtin_add_overflow(1000, speedOffset_, &speed))
        RuntimeErrors::Raise(RuntimeErrors::Overflow, "speed 1000 + " + std::to_string(speedOffset_));
    std::string answer;
    SendLogged("set " + alias + " speed " + std::to_string(speed), answer, callbackWindow_);
    LogFailure("ERROR setting speed for alias ", alias);

    const std::string command = "Play " + alias + " from " + PositionText(from) + " to " + PositionText(end) + " notify";
    LogIfEnabled("GOING to run :" + command + " ");
    Send(command, answer, callbackWindow_);
    LogIfEnabled("DONE to run :" + command + " " + std::to_string(lastError_));
    LogFailure("ERROR Playing alias ", alias);
}

void Channel::MediaStop(const std::string& alias) {
    std::string answer;
    Send("Stop " + alias + " notify", answer, callbackWindow_);
    playlist_.SetStopPending();
}

int32_t Channel::MediaLengthFrames(const std::string& alias) {
    std::string answer;
    SendLogged("Set " + alias + " time format frames", answer, nullptr);
    SendLogged("Status " + alias + " length", answer, nullptr);
    if (lastError_ != 0) {
        LogFailure("ERROR getting Total Frame Number for alias ", alias);
        return -1;
    }
    return LeadingNumber(answer);
}

std::string MediaErrorText(int32_t code) { return mci::mciGetErrorString(static_cast<uint32_t>(code)); }

uint32_t Channel::MediaDeviceId(const std::string& alias) const { return devices_.mciGetDeviceID(alias); }

}  // namespace mMedia
