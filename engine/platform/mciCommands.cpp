#include "mci.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

#include "mciDevice.h"

namespace mci {
namespace {

using namespace detail;

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
            // Inside quotes a doubled quote stands for one quote character of the text.
            for (size_t from = i + 1;;) {
                const size_t close = command.find('"', from);
                if (close == std::string::npos) return MCIERR_NO_CLOSING_QUOTE;
                t.text += command.substr(from, close - from);
                if (close + 1 < command.size() && command[close + 1] == '"') {
                    t.text += '"';
                    from = close + 2;
                    continue;
                }
                i = close + 1;
                break;
            }
            t.quoted = true;
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

// ---- Commands ----
uint32_t Open(DeviceTable& table, const std::string& command, const std::vector<Token>& tokens) {
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
    if (table.Find(alias)) return MCIERR_DUPLICATE_ALIAS;
    if (!IsRegularFile(path)) return MCIERR_FILE_NOT_FOUND;
    if (!EnsureGstreamer()) return MCIERR_INTERNAL;

    auto device = std::make_unique<Device>();
    device->table = &table;
    device->id = table.nextId++;
    device->alias = alias;
    device->path = path;
    if (!(table.render.IsOpen() && LoadDirect(*device)))
        if (uint32_t code = BuildPipeline(*device)) return code;
    table.devices.emplace(Lower(alias), std::move(device));
    return 0;
}

uint32_t Close(DeviceTable& table, const std::vector<Token>& tokens) {
    if (tokens.size() < 2) return MCIERR_MISSING_DEVICE_NAME;
    if (tokens[1].lower() == "all") {
        for (auto& [key, device] : table.devices) device->Notify(MCI_NOTIFY_ABORTED);
        table.devices.clear();
        return 0;
    }
    for (size_t i = 2; i < tokens.size(); ++i) {
        const std::string word = tokens[i].lower();
        if (word != "notify" && word != "wait") return MCIERR_UNRECOGNIZED_KEYWORD;
    }
    auto it = table.devices.find(tokens[1].lower());
    if (it == table.devices.end()) return MCIERR_INVALID_DEVICE_NAME;
    it->second->Notify(MCI_NOTIFY_ABORTED);
    table.devices.erase(it);
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

uint32_t Devices::mciSendString(const std::string& command, std::string& returnBuffer, NotifySink* callback) {
    returnBuffer.clear();
    std::vector<Token> tokens;
    if (uint32_t code = Tokenise(command, tokens)) return code;
    if (tokens.empty()) return MCIERR_MISSING_COMMAND_STRING;
    const std::string verb = tokens[0].lower();
    if (verb == "open") return Open(*table_, command, tokens);
    if (verb == "close") return Close(*table_, tokens);
    if (verb != "set" && verb != "status" && verb != "play" && verb != "stop") return MCIERR_UNRECOGNIZED_COMMAND;
    if (tokens.size() < 2) return MCIERR_MISSING_DEVICE_NAME;
    Device* device = table_->Find(tokens[1].text);
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

}  // namespace mci
