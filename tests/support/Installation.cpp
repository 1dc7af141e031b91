#include "Installation.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "AnsiText.h"
#include "VoicePack.h"

namespace fs = std::filesystem;

namespace ravektest {
namespace {

constexpr const char* kMainKey = "HKEY_LOCAL_MACHINE\\Software\\RavekVoice";
constexpr const char* kLanguageKey = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\Language";
constexpr const char* kIniName = "RavekParams.ini";
constexpr const char* kPreSpellWord = "איות";

std::string EscapeRegText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
    return text;
}

fs::path MakeTempRoot() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ravektest-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
    return fs::path(buffer.data());
}

std::vector<PrefixRow> PrefixRows() {
    return {{"וְ", "ve.mp3", 1}, {"הַ", "ha.mp3", 2}, {"בְּ", "be.mp3", 3},
            {"ו", "ve.mp3", 4},  {"ה", "ha.mp3", 5},  {"ב", "be.mp3", 6}};
}

std::vector<VoicePack::WordEntry> WordEntries(const DictionaryVoice& voice) {
    std::vector<VoicePack::WordEntry> entries;
    for (size_t i = 0; i < voice.Words.size(); ++i) {
        const DictionaryWord& w = voice.Words[i];
        entries.push_back(VoicePack::WordEntry{w.Word, Clip(w.Clip), w.TieBreak, "word " + std::to_string(i + 1)});
    }
    return entries;
}

void CopyClip(const std::string& clip, const fs::path& target) {
    fs::create_directories(target.parent_path());
    fs::copy_file(Clip(clip), target, fs::copy_options::overwrite_existing);
}

}  // namespace

// ---- clips and helpers ----

fs::path ClipsFolder() { return fs::path(RAVEK_SOURCE_DIR) / "tests" / "data" / "clips"; }

fs::path Clip(const std::string& nameOrPath) {
    fs::path p(nameOrPath);
    return p.is_absolute() ? p : ClipsFolder() / p;
}

std::string ReadFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFileBytes(const fs::path& file, const std::string& bytes) {
    if (file.has_parent_path()) fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

TempFolder::TempFolder() : path_(MakeTempRoot()) {}

TempFolder::~TempFolder() {
    std::error_code ec;
    // Make every folder removable again (a test may have locked one); links are not followed.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, ec);
    fs::remove_all(path_, ec);
}

FullDisk::FullDisk(const fs::path& at) : path_(at) {
    fs::create_directories(path_);
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0777") == 0;
    const int fd = mounted_ ? ::open((path_ / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600) : -1;
    for (size_t block = 4096; fd >= 0 && block > 0; block /= 2)  // to the last byte
        while (::write(fd, std::string(block, 'x').data(), block) > 0) {
        }
    if (fd >= 0) ::close(fd);
}

FullDisk::~FullDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

bool FullDisk::HoldsOnlyTheFiller() const {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(path_, ec))
        if (entry.path().filename() != "filler") return false;
    return !ec;
}

const std::vector<std::string>& HebrewLetters() {
    static const std::vector<std::string> letters = {"א", "ב", "ג", "ד", "ה", "ו", "ז", "ח", "ט",
                                                     "י", "ך", "כ", "ל", "ם", "מ", "ן", "נ", "ס",
                                                     "ע", "ף", "פ", "ץ", "צ", "ק", "ר", "ש", "ת"};
    return letters;
}

RegValue RegValue::String(const std::string& text) { return RegValue{"\"" + EscapeRegText(text) + "\"", text}; }

RegValue RegValue::Dword(uint32_t number) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", number);
    return RegValue{std::string("dword:") + digits, std::nullopt};
}

RegValue RegValue::Raw(const std::string& data) { return RegValue{data, std::nullopt}; }

std::vector<DictionaryWord> DefaultMaleWords() {
    return {{"שלום", kToneA, 1},  {"שָׁלוֹם", kToneB, 1}, {"עוֹלָם", kToneC, 1},    {"בַּיִת", kToneD, 1},
            {"סֵפֶר", kToneE, 1}, {"יֶלֶד", kToneF, 1},  {"בוקר טוב", kToneG, 1}, {"ספר", kToneH, 1}};
}

std::vector<DictionaryWord> DefaultFemaleWords() {
    return {{"שלום", kToneH, 1},  {"שָׁלוֹם", kToneG, 1}, {"עוֹלָם", kToneF, 1},    {"בַּיִת", kToneE, 1},
            {"סֵפֶר", kToneD, 1}, {"יֶלֶד", kToneC, 1},  {"בוקר טוב", kToneB, 1}, {"ספר", kToneA, 1}};
}

std::vector<PrefixRow> DefaultPrefixes() { return PrefixRows(); }

std::map<std::string, std::string> DefaultSystemRecordings() {
    static const char* tones[] = {kToneA, kToneB, kToneC, kToneD, kToneE, kToneF, kToneG, kToneH};
    std::map<std::string, std::string> files;
    size_t i = 0;
    for (const std::string& letter : HebrewLetters()) files[letter + ".mp3"] = tones[i++ % 8];
    files["signal.wav"] = kSignalWav;
    files[std::string(kPreSpellWord) + ".mp3"] = kToneC;
    files["ve.mp3"] = kToneA;
    files["ha.mp3"] = kToneB;
    files["be.mp3"] = kToneD;
    return files;
}

InstallationOptions::InstallationOptions() {
    Registry = {
        {"MyRecordsPath", RegValue::String("{root}/MyRecords")},
        {"ApplicationPath", RegValue::String("{root}/app")},
        {"ParametersINIFileName", RegValue::String(kIniName)},
        {"SequenceLen", RegValue::String("4")},
        {"TimeBetweenMyFoldersCheck", RegValue::String("60")},
        {"MaleVoiceName", RegValue::String("Dan")},
        {"FemaleVoiceName", RegValue::String("Noa")},
        {"MaleVoiceName1", RegValue::String("Galev")},
        {"FemaleVoiceName1", RegValue::String("Sevra")},
        {"SystemVoicePath", RegValue::String("{root}/system")},
        {"LogLocation", RegValue::String("{root}/log")},
        {"LogLevel", RegValue::Dword(99)},
        {"PlaybackAccelerationRate", RegValue::Dword(0)},
        {"ConvertMP32WAV", RegValue::String("0")},
        {"AvoidShortNames", RegValue::String("0")},
        {"AudioSink", RegValue::String("fakesink sync=false")},
    };
    Ini["General"] = {{"MissingWordPolicy", "beep"}, {"MissingWordSignal", "signal"}, {"PreSpellWord", kPreSpellWord}};
    Ini["TXRS"] = {{"sentences", "46,63,33"}, {"words", "32,44"}};
    Male.Words = DefaultMaleWords();
    Female.Words = DefaultFemaleWords();
    Prefixes = DefaultPrefixes();
    MaleRecordings = {{"תודה.mp3", kToneH}, {"בוקר.wav", kToneWav}};
    FemaleRecordings = {{"תודה.mp3", kToneG}};
    MaleSystem = DefaultSystemRecordings();
    FemaleSystem = DefaultSystemRecordings();
}

// ---- the installation ----

Installation::Installation(InstallationOptions options) : options_(std::move(options)), root_(MakeTempRoot()) {
    if (const char* env = std::getenv("RAVEK_REGISTRY")) savedRegistryEnv_ = env;
    ::setenv("RAVEK_REGISTRY", RegistryFile().c_str(), 1);
    try {
        Write();
    } catch (...) {
        std::error_code ec;
        fs::remove_all(root_, ec);
        if (savedRegistryEnv_)
            ::setenv("RAVEK_REGISTRY", savedRegistryEnv_->c_str(), 1);
        else
            ::unsetenv("RAVEK_REGISTRY");
        throw;
    }
}

Installation::~Installation() {
    if (savedRegistryEnv_)
        ::setenv("RAVEK_REGISTRY", savedRegistryEnv_->c_str(), 1);
    else
        ::unsetenv("RAVEK_REGISTRY");
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void Installation::Write() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) fs::remove_all(entry.path(), ec);
    WriteRegistry();
    fs::create_directories(ApplicationPath());
    WriteIni();
    WriteDictionary();
    WriteRecordings();
    if (options_.CreateLogFolder) fs::create_directories(LogFolder());
}

std::string Installation::Expand(const std::string& text) const { return ReplaceAll(text, "{root}", root_.string()); }

void Installation::WriteRegistry() const {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    if (options_.LanguageDefault) {
        text += std::string("[") + kLanguageKey + "]\r\n";
        text += "\"Default\"=\"" + EscapeRegText(*options_.LanguageDefault) + "\"\r\n\r\n";
    }
    text += std::string("[") + kMainKey + "]\r\n";
    for (const auto& [name, value] : options_.Registry) text += "\"" + EscapeRegText(name) + "\"=" + Expand(value.Data) + "\r\n";
    text += "\r\n" + options_.ExtraRegistryText;
    WriteFileBytes(RegistryFile(), text);
}

void Installation::WriteIni() const {
    if (!options_.WriteIni) return;
    if (options_.RawIniBytes) {
        WriteFileBytes(IniPath(), *options_.RawIniBytes);
        return;
    }
    std::string text;
    for (const auto& [section, keys] : options_.Ini) {
        text += "[" + section + "]\r\n";
        for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
    }
    WriteFileBytes(IniPath(), AnsiText::CodecFor(1255).ToAnsi(text));
}

// Packs both voices into a scratch folder, then moves over the files the options ask for.
void Installation::WriteDictionary() const {
    fs::path scratch = root_ / ".voicepack";
    fs::create_directories(DictionaryFolder());
    const DictionaryVoice* voices[2] = {&options_.Male, &options_.Female};
    std::vector<VoicePack::PrefixEntry> prefixes;
    for (const PrefixRow& p : options_.Prefixes) prefixes.push_back(VoicePack::PrefixEntry{p.Prefix, p.FileName, p.Priority, ""});
    for (int slot = 0; slot < 2; ++slot) {
        VoicePack::Options pack;
        pack.Voice = DictionaryVoiceName(slot);
        pack.VoiceSex = slot == 0 ? VoicePack::Sex::Male : VoicePack::Sex::Female;
        pack.DataVersion = voices[slot]->DataVersion;
        pack.Words = WordEntries(*voices[slot]);
        pack.Prefixes = prefixes;
        pack.OutDir = scratch;
        pack.MaxBinSize = voices[slot]->MaxBinSize;
        VoicePack::Result result = VoicePack::Pack(pack);
        if (!voices[slot]->Present) continue;
        fs::rename(result.IndexFile, IndexFile(slot));
        for (int32_t n = 1; n <= result.BinFileCount; ++n) fs::rename(result.BinFiles[n - 1], BinFile(slot, n));
    }
    if (options_.WriteDatabase) fs::rename(scratch / "Ravek.db", DatabasePath());
    fs::remove_all(scratch);
}

void Installation::WriteRecordings() const {
    if (options_.CreateMyRecords) {
        fs::create_directories(MyRecordsFolder(0));
        fs::create_directories(MyRecordsFolder(1));
        for (const auto& [name, clip] : options_.MaleRecordings) CopyClip(clip, MyRecordsFolder(0) / name);
        for (const auto& [name, clip] : options_.FemaleRecordings) CopyClip(clip, MyRecordsFolder(1) / name);
    }
    fs::create_directories(SystemRoot());
    if (options_.CreateMaleSystemFolder) {
        fs::create_directories(SystemFolder(0));
        for (const auto& [name, clip] : options_.MaleSystem) CopyClip(clip, SystemFolder(0) / name);
    }
    if (options_.CreateFemaleSystemFolder) {
        fs::create_directories(SystemFolder(1));
        for (const auto& [name, clip] : options_.FemaleSystem) CopyClip(clip, SystemFolder(1) / name);
    }
}

fs::path Installation::RegistryFile() const { return root_ / "registry.reg"; }
fs::path Installation::ApplicationPath() const { return root_ / "app"; }
fs::path Installation::IniPath() const { return ApplicationPath() / kIniName; }
fs::path Installation::DictionaryFolder() const { return ApplicationPath() / "RavekDictionary"; }
fs::path Installation::DatabasePath() const { return DictionaryFolder() / "Ravek.db"; }
fs::path Installation::IndexFile(int slot) const {
    return DictionaryFolder() / ("Ravek-Index__" + DictionaryVoiceName(slot) + ".txt");
}
fs::path Installation::BinFile(int slot, int32_t n) const {
    return DictionaryFolder() / ("Ravek-Dict__" + DictionaryVoiceName(slot) + "_" + std::to_string(n) + ".bin");
}
fs::path Installation::LogFolder() const { return root_ / "log"; }
fs::path Installation::LogFile() const { return LogFolder() / "Tolvin_Log.log"; }
fs::path Installation::MyRecordsRoot() const { return root_ / "MyRecords"; }
fs::path Installation::MyRecordsFolder(int slot) const { return MyRecordsRoot() / VoiceName(slot); }
fs::path Installation::SystemRoot() const { return root_ / "system"; }
fs::path Installation::SystemFolder(int slot) const { return SystemRoot() / VoiceName(slot); }

std::string Installation::RegistryText(const std::string& name) const {
    auto it = options_.Registry.find(name);
    return it != options_.Registry.end() && it->second.Text ? Expand(*it->second.Text) : std::string();
}

std::string Installation::VoiceName(int slot) const {
    std::string name = RegistryText(slot == 0 ? "MaleVoiceName" : "FemaleVoiceName");
    return name.empty() ? (slot == 0 ? "Dan" : "Noa") : name;
}

std::string Installation::DictionaryVoiceName(int slot) { return slot == 0 ? "Galev" : "Sevra"; }

std::vector<std::string> Installation::LogLines() const {
    std::string text = AnsiText::CodecFor(1255).ToUtf8(ReadFileBytes(LogFile()));
    std::vector<std::string> lines;
    std::string current;
    for (char c : text) {
        if (c == '\n') {
            if (!current.empty() && current.back() == '\r') current.pop_back();
            lines.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

std::vector<std::string> Installation::LogMessages() const {
    static const std::string prefix = "Ravek Debug Message ";
    constexpr size_t kStampLength = 23;  // " at DD-MM-YYYY hh:mm:ss"
    std::vector<std::string> messages;
    for (std::string line : LogLines()) {
        if (line.rfind(prefix, 0) == 0 && line.size() >= prefix.size() + kStampLength &&
            line.compare(line.size() - kStampLength, 4, " at ") == 0)
            line = line.substr(prefix.size(), line.size() - prefix.size() - kStampLength);
        messages.push_back(line);
    }
    return messages;
}

bool Installation::LogContains(const std::string& prefix) const {
    for (const std::string& m : LogMessages())
        if (m.rfind(prefix, 0) == 0) return true;
    return false;
}

}  // namespace ravektest
