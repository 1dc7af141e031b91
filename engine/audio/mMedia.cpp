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

struct Channel {
    NotifySink* callbackWindow = nullptr;
    std::string lastCommand;
    int32_t lastError = 0;
    int32_t speedOffset = 0;
};
Channel channel;

bool Logging() { return mLog::GetLogLevel() > 0; }

void LogQuietly(const std::string& line) {
    try {
        mLog::LogWrite(line);
    } catch (...) {
        // A log that cannot be written must not stop playback.
    }
}

void LogIfEnabled(const std::string& line) {
    if (Logging()) LogQuietly(line);
}

int32_t Send(const std::string& command, std::string& answer, NotifySink* callback) {
    channel.lastCommand = command;
    channel.lastError = static_cast<int32_t>(mci::mciSendString(command, answer, callback));
    return channel.lastError;
}

// Sends a command framed by the GOING/DONE log lines.
void SendLogged(const std::string& command, std::string& answer, NotifySink* callback) {
    LogIfEnabled("GOING to run :" + command + " ");
    Send(command, answer, callback);
    LogIfEnabled("DONE to run :" + command + " ");
}

void LogFailure(const std::string& what, const std::string& alias) {
    if (channel.lastError != 0) LogIfEnabled(what + alias + " " + MediaErrorText(channel.lastError));
}

std::string PositionText(const Position& p) {
    if (const auto* n = std::get_if<int64_t>(&p)) return std::to_string(*n);
    return std::get<std::string>(p);
}

// Paths with blanks are quoted so that the command text stays unambiguous.
std::string CommandPath(const std::string& path) {
    return path.find_first_of(" \t") == std::string::npos ? path : "\"" + path + "\"";
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

void SetCallbackWindow(NotifySink* window) { channel.callbackWindow = window; }
NotifySink* CallbackWindow() { return channel.callbackWindow; }

void MediaInit(int32_t speedOffset) { channel.speedOffset = speedOffset; }

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

std::string MediaFilePath(const std::string& path) {
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

void MediaOpen(const std::string& path, const std::string& alias) {
    const std::string file = MediaFilePath(path);
    const std::string command = "Open " + CommandPath(file) + " type MPEGVideo Alias " + alias + " parent " +
                                std::to_string(channel.callbackWindow ? channel.callbackWindow->Handle() : 0) +
                                " Style " + std::to_string(kChildWindowStyle) + " notify";
    std::string answer;
    SendLogged(command, answer, nullptr);
    LogFailure("ERROR Opening alias ", alias);
}

void MediaClose(const std::string& alias) {
    std::string answer;
    SendLogged("close " + alias + " ", answer, channel.callbackWindow);
    LogFailure("ERROR Closing alias ", alias);
}

void MediaPlay(const std::string& alias, const Position& from, const Position& to) {
    Position end = to;
    if (const auto* text = std::get_if<std::string>(&to); text && *text == "TheEnd")
        end = static_cast<int64_t>(MediaLengthFrames(alias));
    int32_t speed = 0;
    if (__builtin_add_overflow(1000, channel.speedOffset, &speed))
        RuntimeErrors::Raise(RuntimeErrors::Overflow, "speed 1000 + " + std::to_string(channel.speedOffset));
    std::string answer;
    SendLogged("set " + alias + " speed " + std::to_string(speed), answer, channel.callbackWindow);
    LogFailure("ERROR setting speed for alias ", alias);

    const std::string command = "Play " + alias + " from " + PositionText(from) + " to " + PositionText(end) + " notify";
    LogIfEnabled("GOING to run :" + command + " ");
    Send(command, answer, channel.callbackWindow);
    LogIfEnabled("DONE to run :" + command + " " + std::to_string(channel.lastError));
    LogFailure("ERROR Playing alias ", alias);
}

void MediaStop(const std::string& alias) {
    std::string answer;
    Send("Stop " + alias + " notify", answer, channel.callbackWindow);
    mHook::SetStopPending();
}

int32_t MediaLengthFrames(const std::string& alias) {
    std::string answer;
    SendLogged("Set " + alias + " time format frames", answer, nullptr);
    SendLogged("Status " + alias + " length", answer, nullptr);
    if (channel.lastError != 0) {
        LogFailure("ERROR getting Total Frame Number for alias ", alias);
        return -1;
    }
    return LeadingNumber(answer);
}

std::string MediaErrorText(int32_t code) { return mci::mciGetErrorString(static_cast<uint32_t>(code)); }

int32_t LastError() { return channel.lastError; }
const std::string& LastCommand() { return channel.lastCommand; }
uint32_t MediaDeviceId(const std::string& alias) { return mci::mciGetDeviceID(alias); }

}  // namespace mMedia
