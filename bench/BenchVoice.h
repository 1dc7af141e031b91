#pragma once
// The large generated voice of the voice-data and pipeline benchmarks, made once with the voice
// producer and kept in the build tree (bench-data/) for later runs:
//   Sevra (female dictionary voice, slot 1, used by voice 4): 200,000 pointed words over 100,000
//     unpointed spellings (two pointings each), tiny silent MP3 clips in exactly 40 binary files,
//     200,000 lookup rows in RavekLookup_Female, the six default prefixes;
//   Galev (male): the fixture's eight default words;
//   10,000 user recordings for Noa (voice 2 and voice 4), the fixture's two for Dan;
//   60 system recordings in each voice's system folder.
// An installation made with BigVoiceOptions() reads its registry, INI, log folder from its own
// temporary root and the voice data from the cache.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "AnsiText.h"
#include "BenchSupport.h"
#include "Installation.h"
#include "VoicePack.h"

namespace ravekbench {

inline constexpr std::size_t kSpellings = 100000;
inline constexpr std::size_t kWordsPerSpelling = 2;
inline constexpr std::size_t kBigVoiceWords = kSpellings * kWordsPerSpelling;
inline constexpr std::size_t kUserRecordings = 10000;
inline constexpr std::size_t kSystemRecordings = 60;
inline constexpr int kBinFiles = 40;
// Clip sizes cycle over 3, 4, 5 and 6 frames (78, 104, 130, 156 bytes): 5,000 clips fill
// 585,000 bytes, so with the 50-byte header the 200,000 clips take exactly 40 files.
inline constexpr uint64_t kBigVoiceMaxBinSize = 50 + (kBigVoiceWords / kBinFiles / 4) * (78 + 104 + 130 + 156);
inline constexpr const char* kCacheStamp = "bench-voice v1 complete";

inline const std::vector<std::string>& BaseLetters() {
    static const std::vector<std::string> letters = {"א", "ב", "ג", "ד", "ה", "ו", "ז", "ח", "ט", "י", "כ",
                                                     "ל", "מ", "נ", "ס", "ע", "פ", "צ", "ק", "ר", "ש", "ת"};
    return letters;
}

// Vowel points: sheva, hiriq, tsere, segol, patah, qamats, holam, qubuts.
inline const std::vector<std::string>& Vowels() {
    static const std::vector<std::string> vowels = {"\u05B0", "\u05B4", "\u05B5", "\u05B6",
                                                    "\u05B7", "\u05B8", "\u05B9", "\u05BB"};
    return vowels;
}

// The unpointed spellings, as lists of letter indexes: 4 to 6 letters, all different.
inline const std::vector<std::vector<int>>& Spellings() {
    static const std::vector<std::vector<int>> spellings = [] {
        std::mt19937_64 random(20261207);
        std::unordered_set<std::string> seen;
        std::vector<std::vector<int>> out;
        out.reserve(kSpellings);
        while (out.size() < kSpellings) {
            std::vector<int> letters(4 + random() % 3);
            std::string key;
            for (int& l : letters) {
                l = static_cast<int>(random() % BaseLetters().size());
                key += static_cast<char>('a' + l);
            }
            if (seen.insert(key).second) out.push_back(std::move(letters));
        }
        return out;
    }();
    return spellings;
}

inline std::string NakedSpelling(std::size_t k) {
    std::string text;
    for (int l : Spellings()[k]) text += BaseLetters()[static_cast<std::size_t>(l)];
    return text;
}

// Pointing `variant` (0 or 1) of spelling k; the two differ in the first letter's vowel.
inline std::string PointedSpelling(std::size_t k, std::size_t variant) {
    const std::vector<int>& letters = Spellings()[k];
    std::string text;
    for (std::size_t i = 0; i < letters.size(); ++i) {
        text += BaseLetters()[static_cast<std::size_t>(letters[i])];
        if (i == 0) {
            text += variant == 0 ? "\u05B7" : "\u05B5";  // patah or tsere
        } else if (i + 1 < letters.size() || (k + i) % 2 == 0) {
            text += Vowels()[(k * 7 + i * 3 + variant * 5) % Vowels().size()];
        }
    }
    return text;
}

// Word w of the voice (0 .. kBigVoiceWords-1).
inline std::string BigVoiceWord(std::size_t w) { return PointedSpelling(w / kWordsPerSpelling, w % kWordsPerSpelling); }

inline std::filesystem::path BenchDataFolder() { return std::filesystem::path(RAVEK_BUILD_DIR) / "bench-data"; }
inline std::filesystem::path BigVoiceFolder() { return BenchDataFolder() / "voice200k"; }

namespace detail {

inline std::vector<VoicePack::PrefixEntry> Prefixes() {
    std::vector<VoicePack::PrefixEntry> rows;
    for (const ravektest::PrefixRow& p : ravektest::DefaultPrefixes())
        rows.push_back(VoicePack::PrefixEntry{p.Prefix, p.FileName, p.Priority, ""});
    return rows;
}

inline void Pack(const std::string& voice, VoicePack::Sex sex, std::vector<VoicePack::WordEntry> words, uint64_t maxBin,
                 const std::filesystem::path& out) {
    VoicePack::Options o;
    o.Voice = voice;
    o.VoiceSex = sex;
    o.DataVersion = "1.0:bench";
    o.Words = std::move(words);
    o.Prefixes = Prefixes();
    o.OutDir = out;
    o.MaxBinSize = maxBin;
    VoicePack::Result r = VoicePack::Pack(o);
    std::printf("  packed %s: %zu words in %d binary files\n", voice.c_str(), r.WordCount, r.BinFileCount);
}

inline void WriteIni(const std::filesystem::path& file) {
    std::string text =
        "[General]\r\nMissingWordPolicy=beep\r\nMissingWordSignal=signal\r\nPreSpellWord=איות\r\n"
        "[TXRS]\r\nsentences=46,63,33\r\nwords=32,44\r\n";
    WriteBytes(file, AnsiText::CodecFor(1255).ToAnsi(text));
}

inline void LinkOrCopy(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    std::filesystem::create_hard_link(from, to, ec);
    if (ec) std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

// Names of user recordings: 7-letter spellings that are not spellings of the voice.
inline std::vector<std::string> UserRecordingWords() {
    std::mt19937_64 random(777);
    std::unordered_set<std::string> seen;
    std::vector<std::string> words;
    while (words.size() < kUserRecordings) {
        std::string word;
        for (int i = 0; i < 7; ++i) word += BaseLetters()[random() % BaseLetters().size()];
        if (seen.insert(word).second) words.push_back(word);
    }
    return words;
}

inline void WriteSystemFolder(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::size_t n = 0;
    for (const auto& [name, clip] : ravektest::DefaultSystemRecordings()) {
        std::filesystem::copy_file(ravektest::Clip(clip), folder / name, std::filesystem::copy_options::overwrite_existing);
        ++n;
    }
    for (std::size_t i = 1; n < kSystemRecordings; ++i, ++n)
        std::filesystem::copy_file(ravektest::Clip(ravektest::kToneA), folder / ("צליל" + std::to_string(i) + ".mp3"),
                                   std::filesystem::copy_options::overwrite_existing);
}

inline void Generate(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::remove_all(root, ec);
    const fs::path dict = root / "app" / "RavekDictionary";
    fs::create_directories(dict);
    WriteIni(root / "app" / "RavekParams.ini");

    const fs::path clips = root / "clips";
    for (int frames = 3; frames <= 6; ++frames) WriteBytes(clips / ("silent_" + std::to_string(frames) + ".mp3"), SilentMp3(frames));

    std::vector<VoicePack::WordEntry> male;
    for (const ravektest::DictionaryWord& w : ravektest::DefaultMaleWords())
        male.push_back(VoicePack::WordEntry{w.Word, ravektest::Clip(w.Clip), w.TieBreak, ""});
    Pack("Galev", VoicePack::Sex::Male, std::move(male), VoicePack::kDefaultMaxBinSize, dict);

    std::vector<VoicePack::WordEntry> female;
    female.reserve(kBigVoiceWords);
    for (std::size_t w = 0; w < kBigVoiceWords; ++w)
        female.push_back(VoicePack::WordEntry{BigVoiceWord(w), clips / ("silent_" + std::to_string(3 + w % 4) + ".mp3"),
                                              static_cast<int64_t>(w % kWordsPerSpelling + 1), ""});
    Pack("Sevra", VoicePack::Sex::Female, std::move(female), kBigVoiceMaxBinSize, dict);

    const fs::path dan = root / "MyRecords" / "Dan";
    const fs::path noa = root / "MyRecords" / "Noa";
    fs::create_directories(dan);
    fs::create_directories(noa);
    fs::copy_file(ravektest::Clip(ravektest::kToneH), dan / "תודה.mp3");
    for (const std::string& word : UserRecordingWords()) LinkOrCopy(clips / "silent_4.mp3", noa / (word + ".mp3"));
    WriteSystemFolder(root / "system" / "Dan");
    WriteSystemFolder(root / "system" / "Noa");
    WriteBytes(root / "stamp", kCacheStamp);
}

}  // namespace detail

// Makes the voice unless a complete one is cached; true when it was made now.
inline bool EnsureBigVoice() {
    const std::filesystem::path root = BigVoiceFolder();
    if (ravektest::ReadFileBytes(root / "stamp") == kCacheStamp) return false;
    std::printf("Generating the benchmark voice in %s (once; cached for later runs)...\n", root.c_str());
    std::fflush(stdout);
    auto t0 = Clock::now();
    detail::Generate(root);
    std::printf("  generated in %.1f s\n", MillisecondsBetween(t0, Clock::now()) / 1000);
    return true;
}

// Installation options whose voice data, recordings and INI file are the cached voice's.
inline ravektest::InstallationOptions BigVoiceOptions(uint32_t logLevel) {
    const std::filesystem::path root = BigVoiceFolder();
    ravektest::InstallationOptions o;
    o.Registry["ApplicationPath"] = ravektest::RegValue::String((root / "app").string());
    o.Registry["MyRecordsPath"] = ravektest::RegValue::String((root / "MyRecords").string());
    o.Registry["SystemVoicePath"] = ravektest::RegValue::String((root / "system").string());
    o.Registry["LogLevel"] = ravektest::RegValue::Dword(logLevel);
    // The fixture's own (small) files are not read; keep them minimal.
    o.Male.Words.resize(1);
    o.Female.Words.resize(1);
    o.MaleSystem.clear();
    o.FemaleSystem.clear();
    o.MaleRecordings.clear();
    o.FemaleRecordings.clear();
    return o;
}

// A Hebrew paragraph of `words` words from the big voice: half written exactly as a word of the
// index (pointed), a quarter unpointed (resolved by the smart lookup), a quarter unpointed after
// a one-letter prefix (resolved by the prefix split). A full stop after every twelfth word.
// `pickSpelling(random)` draws each word's spelling (below kSpellings).
template <typename PickSpelling>
std::string ParagraphOf(std::size_t words, uint64_t seed, PickSpelling pickSpelling) {
    static const char* prefixes[] = {"ו", "ה", "ב"};
    std::mt19937_64 random(seed);
    std::string text;
    for (std::size_t i = 0; i < words; ++i) {
        const std::size_t k = pickSpelling(random);
        switch (i % 4) {
            case 0:
            case 2: text += PointedSpelling(k, random() % kWordsPerSpelling); break;
            case 1: text += NakedSpelling(k); break;
            default: text += std::string(prefixes[random() % 3]) + NakedSpelling(k); break;
        }
        text += (i + 1) % 12 == 0 || i + 1 == words ? ". " : " ";
    }
    return text;
}

// Such a paragraph with the spellings drawn uniformly.
inline std::string BigVoiceParagraph(std::size_t words, uint64_t seed = 1) {
    return ParagraphOf(words, seed, [](std::mt19937_64& random) { return static_cast<std::size_t>(random() % kSpellings); });
}

}  // namespace ravekbench
