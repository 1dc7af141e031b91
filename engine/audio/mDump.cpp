#include "mDump.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "AutomationError.h"
#include "EngineState.h"
#include "mIndexFiles.h"
#include "mLog.h"

namespace fs = std::filesystem;

namespace mDump {

namespace {

// Binary files of slot 0 and slot 1 carry these voice names.
constexpr const char* kSlotVoiceNames[2] = {"Galev", "Sevra"};

struct IndexEntry {
    int32_t Position = 0;
    int32_t Length = 0;
    int32_t FileNumber = 0;
};

int32_t EntryNumber(const std::string& piece, const std::string& entry) {
    int32_t value = 0;
    const char* begin = piece.data();
    const char* end = begin + piece.size();
    while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r')) --end;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec == std::errc::result_out_of_range) RuntimeErrors::Raise(RuntimeErrors::Overflow, "index entry \"" + entry + "\"");
    if (ec != std::errc() || ptr != end || begin == end)
        RuntimeErrors::Raise(RuntimeErrors::TypeMismatch, "index entry \"" + entry + "\"");
    return value;
}

// "position;length;file number"
IndexEntry ParseEntry(const std::string& entry) {
    IndexEntry parsed;
    std::size_t first = entry.find(';');
    std::size_t second = first == std::string::npos ? std::string::npos : entry.find(';', first + 1);
    if (second == std::string::npos) RuntimeErrors::Raise(RuntimeErrors::TypeMismatch, "index entry \"" + entry + "\"");
    std::size_t third = entry.find(';', second + 1);
    parsed.Position = EntryNumber(entry.substr(0, first), entry);
    parsed.Length = EntryNumber(entry.substr(first + 1, second - first - 1), entry);
    parsed.FileNumber = EntryNumber(entry.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1), entry);
    return parsed;
}

std::string OutputPath(const std::string& dumpFolder, const std::string& word) {
    std::string folder = dumpFolder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + DumpNameOf(word) + ".mp3";
}

// A clip that could not be written into the working folder.
struct ClipWriteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void RaiseNoFolder(const std::string& dumpFolder) {
    RuntimeErrors::Raise(RuntimeErrors::PathNotFound, "dump folder \"" + dumpFolder + "\" does not exist");
}

void WriteClip(const std::string& dumpFolder, const std::string& path, const std::vector<char>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int openError = errno;
        // The folder, checked once per request, has gone since: as if it had been checked now.
        std::error_code ec;
        if (openError == ENOENT && !fs::is_directory(dumpFolder, ec)) RaiseNoFolder(dumpFolder);
        throw ClipWriteError(std::string("cannot create ") + path + ": " + std::strerror(openError));
    }
    std::size_t done = 0;
    int error = 0;
    while (done < bytes.size() && error == 0) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EINTR) error = errno;
        else if (n == 0) error = ENOSPC;
    }
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        ::unlink(path.c_str());  // half a clip would play as noise
        throw ClipWriteError("cannot write " + path + ": " + std::strerror(error));
    }
}

// What one extraction may take from earlier ones of the same request.
struct ExtractionContext {
    mIndexFiles::ClipReader& reader;
    bool& folderSeen;  // the dump folder was found to be a folder
};

void Extract(EngineState& state, const std::string& dumpFolder, int32_t voice, const std::string& word, ExtractionContext context) {
    const int slot = EngineState::DataSlot(voice);
    if (slot > 1) RuntimeErrors::Raise(RuntimeErrors::SubscriptOutOfRange, "voice " + std::to_string(voice + 1) + " has no dictionary");
    std::error_code ec;
    if (dumpFolder.empty()) RaiseNoFolder(dumpFolder);
    if (!context.folderSeen) {
        if (!fs::is_directory(dumpFolder, ec)) RaiseNoFolder(dumpFolder);
        context.folderSeen = true;
    }
    const ClipLocation clip = LocateClip(state, voice, word);
    WriteClip(dumpFolder, OutputPath(dumpFolder, word), context.reader.Read(clip.BinPath, clip.Position, clip.Length));
}

// Extracts, logging a failure; a clip that cannot be written is raised when `raiseWriteErrors`.
// With `alreadyWritten` the file holds the word's clip from earlier in the request: only the log
// lines are written. True when the file holds the clip afterwards.
bool Dump(EngineState& state, const std::string& dumpFolder, int32_t voice, const std::string& word, bool raiseWriteErrors,
          ExtractionContext context, bool alreadyWritten = false) {
    const bool detailed = state.Log.Detail();
    if (detailed) state.Log.LogWrite("Dump word (" + word + ") request arrived at" + mLog::SystemDateTimeText());
    try {
        if (!alreadyWritten) Extract(state, dumpFolder, voice, word, context);
    } catch (const std::exception& e) {
        // The caller gets no error (the pipeline meets the missing file later), but the failure
        // is on record.
        state.Log.LogWriteQuietly("Dump word (" + word + ") FAILED: " + e.what());
        if (raiseWriteErrors && dynamic_cast<const ClipWriteError*>(&e))
            RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError,
                                 "cannot write the clips of the request into the working folder " + dumpFolder + ": " + e.what());
        return false;
    }
    if (detailed) state.Log.LogWrite("Dump word (" + word + ") done in " + state.Elapsed());
    return true;
}

bool DumpAlone(EngineState& state, const std::string& dumpFolder, int32_t voice, const std::string& word, bool raiseWriteErrors) {
    mIndexFiles::ClipReader reader;
    bool folderSeen = false;
    return Dump(state, dumpFolder, voice, word, raiseWriteErrors, ExtractionContext{reader, folderSeen});
}

}  // namespace

ClipLocation LocateClip(const EngineState& state, int32_t voice, const std::string& word) {
    const int slot = EngineState::DataSlot(voice);
    if (slot > 1) RuntimeErrors::Raise(RuntimeErrors::SubscriptOutOfRange, "voice " + std::to_string(voice + 1) + " has no dictionary");
    const std::string* entry = state.IndexDictionary(slot).Find(word);
    if (!entry) RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "the word is not in the index");
    const IndexEntry clip = ParseEntry(*entry);
    if (clip.Length <= 0 || clip.Position <= 0 || clip.FileNumber <= 0)
        RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "index entry \"" + *entry + "\" names no clip");
    return ClipLocation{mIndexFiles::BinFilePath(state.Settings.ApplicationPath, kSlotVoiceNames[slot], clip.FileNumber),
                        clip.Position, clip.Length};
}

std::string DumpNameOf(const std::string& word) {
    std::string name;
    name.reserve(word.size());
    for (char ch : word) {
        if (ch == '-' || ch == '/') name += "==";
        else if (ch == '"') name += '_';
        else name += ch;
    }
    return name;
}

void DumpFile(EngineState& state, const std::string& dumpFolder, int32_t voice, const std::string& word) {
    DumpAlone(state, dumpFolder, voice, word, false);
}

void DumpFileForSpeech(EngineState& state, const std::string& dumpFolder, int32_t voice, const std::string& word) {
    DumpAlone(state, dumpFolder, voice, word, true);
}

SpeechClips::SpeechClips(EngineState& state, std::string dumpFolder, int32_t voice)
    : state_(state), folder_(std::move(dumpFolder)), voice_(voice) {}

void SpeechClips::Dump(const std::string& word) {
    const std::string path = OutputPath(folder_, word);
    auto known = written_.find(path);
    // Two words may share a file name ("-" and "/" both become "=="): only the same word's
    // clip is taken as already there.
    const bool already = known != written_.end() && known->second == word;
    if (!mDump::Dump(state_, folder_, voice_, word, true, ExtractionContext{reader_, folderSeen_}, already)) return;
    if (known == written_.end()) written_.emplace(path, word);
    else known->second = word;
}

void ClipsAhead::Start(std::shared_ptr<SpeechClips> writer) {
    writer_ = std::move(writer);
    words_.clear();
    next_ = 0;
}

void ClipsAhead::WriteThrough(size_t entry) {
    if (!writer_) return;
    for (const size_t end = std::min(entry + 1, words_.size()); next_ < end; ++next_) {
        if (words_[next_].empty()) continue;
        try {
            writer_->Dump(words_[next_]);  // logs its own failure
        } catch (const std::exception&) {
        }
    }
}

void ClipsAhead::Clear() {
    writer_.reset();
    words_.clear();
    next_ = 0;
}

std::shared_ptr<Dictionary> ExportRavekDictionary(EngineState& state) {
    return state.IndexDictionaries[state.ActiveSlot()];
}

}  // namespace mDump
