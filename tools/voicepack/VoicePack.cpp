#include "VoicePack.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <deque>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>

#include "AnsiText.h"
#include "AtomicFile.h"
#include "PointedWord.h"
#include "RegularFile.h"

namespace fs = std::filesystem;

namespace VoicePack {
namespace {

[[noreturn]] void Refuse(const std::string& message) { throw PackError(message); }

// ---- SQLite, owned through RAII ----

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinaliser {
    void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, DatabaseCloser>;

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) : db_(db) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
            Refuse("database statement failed (" + std::string(sqlite3_errmsg(db)) + "): " + sql);
        statement_.reset(raw);
    }
    Statement& Bind(int index, const std::string& text) {
        Check(sqlite3_bind_text(statement_.get(), index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& Bind(int index, int64_t number) {
        Check(sqlite3_bind_int64(statement_.get(), index, number));
        return *this;
    }
    // Runs a statement that returns no rows, ready to be bound and run again.
    void Run() {
        int rc = sqlite3_step(statement_.get());
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) Refuse("database write failed: " + std::string(sqlite3_errmsg(db_)));
        sqlite3_reset(statement_.get());
        sqlite3_clear_bindings(statement_.get());
    }

private:
    void Check(int rc) {
        if (rc != SQLITE_OK) Refuse("database bind failed: " + std::string(sqlite3_errmsg(db_)));
    }
    sqlite3* db_;
    std::unique_ptr<sqlite3_stmt, StatementFinaliser> statement_;
};

void Execute(sqlite3* db, const std::string& sql) { Statement(db, sql).Run(); }

// ---- files written under temporary names, renamed into place together at the end ----

// The files of one pack: each is written through the shared atomic writer and renamed onto its
// target by Commit, so a failed pack leaves every existing file as it was.
class StagedFiles {
public:
    explicit StagedFiles(fs::path folder) : folder_(std::move(folder)) {}
    ~StagedFiles() {
        // SQLite may leave a journal beside an abandoned database copy.
        std::error_code ec;
        for (const AtomicFile& file : files_) fs::remove(file.TemporaryPath().string() + "-journal", ec);
    }
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    AtomicFile& Stage(const std::string& targetName) {
        try {
            return files_.emplace_back(folder_ / targetName);
        } catch (const fs::filesystem_error& e) {
            Refuse(std::string(e.what()) + ": " + e.code().message());
        }
    }
    void Commit() {
        for (AtomicFile& file : files_) {
            try {
                file.Commit();
            } catch (const fs::filesystem_error& e) {
                Refuse(std::string(e.what()) + ": " + e.code().message());
            }
        }
    }

private:
    fs::path folder_;
    std::deque<AtomicFile> files_;  // stable addresses for the references Stage hands out
};

// Appends to a staged file, refusing the pack (naming the file) when the write fails.
void WriteOrRefuse(AtomicFile& out, const std::string& bytes) {
    try {
        out.Write(bytes);
    } catch (const fs::filesystem_error& e) {
        Refuse(std::string(e.what()) + ": " + e.code().message());
    }
}

// ---- input checks ----

std::string ReadPrefix(const fs::path& file, std::size_t count) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes(count, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::string ReadAll(const fs::path& file) {
    RegularFile::Contents contents = RegularFile::Read(file);
    if (contents.State == RegularFile::Status::NotRegular) Refuse(file.string() + " is not a regular file");
    if (contents.State != RegularFile::Status::Read) Refuse("cannot read " + file.string() + ": " + contents.Reason);
    return std::move(contents.Bytes);
}

bool IsBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Where(const std::string& origin) { return origin.empty() ? std::string() : origin + ": "; }

void CheckText(const std::string& what, const std::string& text, const std::string& origin,
               const AnsiText::Codec& codec, const std::string& forbidden) {
    if (text.empty()) Refuse(Where(origin) + what + " is empty");
    if (!AnsiText::IsValidUtf8(text)) Refuse(Where(origin) + what + " is not valid UTF-8");
    if (!codec.CanRepresent(text))
        Refuse(Where(origin) + what + " \"" + text + "\" cannot be written in code page " +
               std::to_string(codec.CodePage()));
    for (char c : forbidden)
        if (text.find(c) != std::string::npos)
            Refuse(Where(origin) + what + " \"" + text + "\" contains a forbidden character (code " +
                   std::to_string(static_cast<unsigned char>(c)) + ")");
}

void CheckVersion(const Options& o, const AnsiText::Codec& codec) {
    if (o.DataVersion.find(':') == std::string::npos)
        Refuse("data version \"" + o.DataVersion + "\" must contain \":\"");
    CheckText("data version", o.DataVersion, "", codec, std::string(";\r\n\t\0", 5));
    if (codec.ToAnsi(o.DataVersion).size() > kHeaderSize)
        Refuse("data version \"" + o.DataVersion + "\" is longer than " + std::to_string(kHeaderSize) + " bytes");
}

// Checks every word and clip; returns the clip sizes in word order.
std::vector<uint64_t> CheckWords(const Options& o, const AnsiText::Codec& codec) {
    std::set<std::string> seen{o.DataVersion};  // the version line's key is taken too
    std::vector<uint64_t> sizes;
    sizes.reserve(o.Words.size());
    for (const WordEntry& w : o.Words) {
        // ";" separates index fields, "|" the fields of the stored pointed form.
        CheckText("word", w.Word, w.Origin, codec, std::string(";|\r\n\t\0", 6));
        // The engine looks words up exactly as the text splits them: blanks around one never match.
        if (IsBlankByte(w.Word.front()) || IsBlankByte(w.Word.back()))
            Refuse(Where(w.Origin) + "word \"" + w.Word + "\" has blanks before or after it");
        if (w.TieBreak < INT32_MIN || w.TieBreak > INT32_MAX)
            Refuse(Where(w.Origin) + "tie-break " + std::to_string(w.TieBreak) + " is outside the 32-bit range");
        if (!seen.insert(w.Word).second) {
            if (w.Word == o.DataVersion) Refuse(Where(w.Origin) + "word \"" + w.Word + "\" equals the data version");
            Refuse(Where(w.Origin) + "duplicate word \"" + w.Word + "\"");
        }
        std::error_code ec;
        if (!fs::is_regular_file(w.Clip, ec)) Refuse(Where(w.Origin) + "clip " + w.Clip.string() + " is missing");
        uint64_t size = fs::file_size(w.Clip, ec);
        if (ec || size == 0) Refuse(Where(w.Origin) + "clip " + w.Clip.string() + " is empty or unreadable");
        if (!LooksLikeMp3(ReadPrefix(w.Clip, 4))) Refuse(Where(w.Origin) + "clip " + w.Clip.string() + " is not an MP3 file");
        if (size > o.MaxBinSize - kHeaderSize)
            Refuse(Where(w.Origin) + "clip " + w.Clip.string() + " (" + std::to_string(size) +
                   " bytes) does not fit in a binary file of " + std::to_string(o.MaxBinSize) + " bytes");
        sizes.push_back(size);
    }
    return sizes;
}

void CheckPrefixes(const std::vector<PrefixEntry>& prefixes, const AnsiText::Codec& codec) {
    std::set<std::string> seen;
    for (const PrefixEntry& p : prefixes) {
        CheckText("prefix", p.Prefix, p.Origin, codec, std::string("|\r\n\t\0", 5));
        CheckText("prefix file name", p.FileName, p.Origin, codec, std::string("\r\n\t\0", 4));
        // A name inside the system voice folder, never a path that leads out of it.
        if (p.FileName.find_first_of("/\\") != std::string::npos || p.FileName.find("..") != std::string::npos)
            Refuse(Where(p.Origin) + "prefix file name \"" + p.FileName + "\" is a path (\"/\", \"\\\" or \"..\")");
        if (!seen.insert(p.Prefix).second) Refuse(Where(p.Origin) + "duplicate prefix \"" + p.Prefix + "\"");
    }
}

void CheckOptions(const Options& o, const AnsiText::Codec& codec) {
    if (o.Voice.empty() || o.Voice.find_first_of(std::string("/\\;\0", 4)) != std::string::npos)
        Refuse("voice name \"" + o.Voice + "\" is empty or not usable in a file name");
    if (o.OutDir.empty()) Refuse("no output folder given");
    if (o.MaxBinSize <= kHeaderSize) Refuse("the largest binary file size must exceed the " + std::to_string(kHeaderSize) + "-byte header");
    if (o.MaxBinSize > kLargestMaxBinSize)
        Refuse("the largest binary file size " + std::to_string(o.MaxBinSize) + " is above " + std::to_string(kLargestMaxBinSize) +
               " bytes, the largest the engine reads");
    if (o.Words.empty()) Refuse("no words to pack");
    CheckVersion(o, codec);
    if (o.Prefixes) CheckPrefixes(*o.Prefixes, codec);
}

// ---- layout and writers ----

struct Placement {
    int32_t File = 1;
    uint64_t Position = 0;  // 1-based
    uint64_t Length = 0;
};

std::vector<Placement> PlaceClips(const std::vector<uint64_t>& sizes, uint64_t maxBinSize, int32_t& fileCount) {
    std::vector<Placement> placements;
    placements.reserve(sizes.size());
    int32_t file = 1;
    uint64_t used = kHeaderSize;
    for (uint64_t size : sizes) {
        if (used + size > maxBinSize && used > kHeaderSize) {
            ++file;
            used = kHeaderSize;
        }
        placements.push_back(Placement{file, used + 1, size});
        used += size;
    }
    fileCount = file;
    return placements;
}

std::string HeaderOf(int32_t file, int32_t fileCount, const std::string& ansiVersion) {
    std::string header = file < fileCount ? std::to_string(file) + ":C" : ansiVersion;
    header.resize(kHeaderSize, ' ');
    return header;
}

uint32_t Fnv1a(uint32_t hash, const std::string& bytes) {
    for (unsigned char b : bytes) {
        hash ^= b;
        hash *= 16777619u;
    }
    return hash;
}

// Writes the binary files; returns a checksum of all clip bytes.
uint32_t WriteBinFiles(const Options& o, const std::vector<Placement>& placements, int32_t fileCount,
                       const std::vector<AtomicFile*>& files, const AnsiText::Codec& codec) {
    const std::string ansiVersion = codec.ToAnsi(o.DataVersion);
    uint32_t checksum = 2166136261u;
    std::size_t next = 0;
    for (int32_t n = 1; n <= fileCount; ++n) {
        AtomicFile& out = *files[static_cast<std::size_t>(n - 1)];
        WriteOrRefuse(out, HeaderOf(n, fileCount, ansiVersion));
        for (; next < placements.size() && placements[next].File == n; ++next) {
            std::string clip = ReadAll(o.Words[next].Clip);
            if (clip.size() != placements[next].Length)
                Refuse(Where(o.Words[next].Origin) + "clip " + o.Words[next].Clip.string() + " changed while packing");
            checksum = Fnv1a(checksum, clip);
            WriteOrRefuse(out, clip);
            if (o.Progress) o.Progress(next + 1, placements.size());
        }
    }
    return checksum;
}

void WriteIndex(const Options& o, const std::vector<Placement>& placements, int32_t fileCount, AtomicFile& out,
                const AnsiText::Codec& codec) {
    std::string text = codec.ToAnsi(o.DataVersion) + ";0;0;0;" + std::to_string(fileCount) + "\r\n";
    for (std::size_t i = 0; i < placements.size(); ++i) {
        const Placement& p = placements[i];
        text += codec.ToAnsi(o.Words[i].Word) + ";" + std::to_string(p.Position) + ";" + std::to_string(p.Length) +
                ";0;" + std::to_string(p.File) + "\r\n";
    }
    WriteOrRefuse(out, text);
}

DatabaseHandle OpenDatabase(const fs::path& file) {
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    DatabaseHandle db(raw);
    if (rc != SQLITE_OK) Refuse("cannot open database " + file.string() + ": " + sqlite3_errstr(rc));
    return db;
}

void CreateTables(sqlite3* db) {
    Execute(db, "CREATE TABLE IF NOT EXISTS Ravek_Prefixes (Prefix TEXT, FileName TEXT, Priority INTEGER)");
    for (const char* sex : {"Male", "Female"}) {
        std::string table = std::string("RavekLookup_") + sex;
        Execute(db, "CREATE TABLE IF NOT EXISTS " + table + " (NakedWord TEXT, RavekWord TEXT, TieBreak INTEGER)");
        Execute(db, "CREATE INDEX IF NOT EXISTS " + table + "_NakedWord ON " + table + " (NakedWord)");
    }
    Execute(db, "CREATE TABLE IF NOT EXISTS VersionInfo (Voice TEXT, Version TEXT, CheckSum INTEGER, ID INTEGER)");
}

void FillLookupTable(sqlite3* db, const Options& o) {
    std::string table = o.VoiceSex == Sex::Male ? "RavekLookup_Male" : "RavekLookup_Female";
    Execute(db, "DELETE FROM " + table);
    Statement insert(db, "INSERT INTO " + table + " (NakedWord, RavekWord, TieBreak) VALUES (?, ?, ?)");
    for (const WordEntry& w : o.Words) {
        PointedWord parsed = PointedWords::ParsePointedWord(w.Word, o.CodePage);
        insert.Bind(1, PointedWords::StripMarks(w.Word, o.CodePage))
            .Bind(2, PointedWords::SerialisePointedWord(parsed))
            .Bind(3, w.TieBreak)
            .Run();
    }
}

void FillPrefixes(sqlite3* db, const std::vector<PrefixEntry>& prefixes) {
    Execute(db, "DELETE FROM Ravek_Prefixes");
    Statement insert(db, "INSERT INTO Ravek_Prefixes (Prefix, FileName, Priority) VALUES (?, ?, ?)");
    for (const PrefixEntry& p : prefixes) insert.Bind(1, p.Prefix).Bind(2, p.FileName).Bind(3, p.Priority).Run();
}

void WriteVersionRow(sqlite3* db, const Options& o, uint32_t checksum) {
    Statement remove(db, "DELETE FROM VersionInfo WHERE Voice = ?");
    remove.Bind(1, o.Voice).Run();
    Statement insert(db, "INSERT INTO VersionInfo (Voice, Version, CheckSum, ID) VALUES (?, ?, ?, ?)");
    insert.Bind(1, o.Voice)
        .Bind(2, o.DataVersion)
        .Bind(3, static_cast<int64_t>(checksum))
        .Bind(4, static_cast<int64_t>(o.VoiceSex == Sex::Male ? 1 : 2))
        .Run();
}

// Works on a copy of the existing database (or a new one) so the original stays intact until
// the rename.
void WriteDatabase(const Options& o, const fs::path& target, const AtomicFile& staged, uint32_t checksum) {
    const fs::path& temp = staged.TemporaryPath();
    std::error_code ec;
    if (fs::exists(target, ec)) {
        fs::copy_file(target, temp, fs::copy_options::overwrite_existing, ec);
        if (ec) Refuse("cannot copy database " + target.string() + ": " + ec.message());
    }
    DatabaseHandle db = OpenDatabase(temp);
    try {
        Execute(db.get(), "BEGIN");
        CreateTables(db.get());
        FillLookupTable(db.get(), o);
        if (o.Prefixes) FillPrefixes(db.get(), *o.Prefixes);
        WriteVersionRow(db.get(), o, checksum);
        Execute(db.get(), "COMMIT");
    } catch (const PackError& e) {
        Refuse(std::string(e.what()) + " (database " + target.string() + ")");
    }
}

void RemoveStaleBinFiles(const Options& o, int32_t fileCount) {
    std::error_code ec;
    for (int32_t n = fileCount + 1;; ++n) {
        fs::path stale = o.OutDir / ("Ravek-Dict__" + o.Voice + "_" + std::to_string(n) + ".bin");
        if (!fs::remove(stale, ec)) break;
    }
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    std::size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
        } else if (c != '\r') {
            current.push_back(c);
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) fields.push_back(field);
    if (!line.empty() && line.back() == '\t') fields.emplace_back();
    return fields;
}

bool IsBlank(const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; }

int64_t WholeNumber(const std::string& text, const std::string& what, const std::string& origin) {
    int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size())
        Refuse(origin + ": " + what + " \"" + text + "\" is not a whole number");
    return value;
}

}  // namespace

bool LooksLikeMp3(const std::string& b) {
    if (b.size() >= 3 && b.compare(0, 3, "ID3") == 0) return true;
    return b.size() >= 2 && static_cast<unsigned char>(b[0]) == 0xFF && (static_cast<unsigned char>(b[1]) & 0xE0) == 0xE0;
}

std::optional<Sex> ParseSex(const std::string& text) {
    std::string lower = AnsiText::ToLower(text);
    if (lower == "male") return Sex::Male;
    if (lower == "female") return Sex::Female;
    return std::nullopt;
}

std::vector<WordEntry> ReadWordsFile(const fs::path& file) {
    std::string text = ReadAll(file);
    std::vector<WordEntry> words;
    std::vector<std::string> lines = SplitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string origin = file.filename().string() + " line " + std::to_string(i + 1);
        if (IsBlank(lines[i])) continue;
        std::vector<std::string> f = SplitTabs(lines[i]);
        if (f.size() < 2 || f.size() > 3) Refuse(origin + ": expected word<TAB>clip[<TAB>tie-break]");
        fs::path clip = f[1];
        if (clip.empty()) Refuse(origin + ": no clip given");
        if (clip.is_relative()) clip = file.parent_path() / clip;
        int64_t tie = f.size() == 3 ? WholeNumber(f[2], "tie-break", origin) : 1;
        words.push_back(WordEntry{f[0], clip, tie, origin});
    }
    // An empty list would replace a voice with an empty one.
    if (words.empty()) Refuse("words file " + file.string() + " holds no words");
    return words;
}

std::vector<PrefixEntry> ReadPrefixesFile(const fs::path& file) {
    std::string text = ReadAll(file);
    std::vector<PrefixEntry> prefixes;
    std::vector<std::string> lines = SplitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string origin = file.filename().string() + " line " + std::to_string(i + 1);
        if (IsBlank(lines[i])) continue;
        std::vector<std::string> f = SplitTabs(lines[i]);
        if (f.size() != 3) Refuse(origin + ": expected prefix<TAB>file name<TAB>priority");
        prefixes.push_back(PrefixEntry{f[0], f[1], WholeNumber(f[2], "priority", origin), origin});
    }
    return prefixes;
}

Result Pack(const Options& o) {
    const AnsiText::Codec& codec = AnsiText::CodecFor(o.CodePage);
    CheckOptions(o, codec);
    std::vector<uint64_t> sizes = CheckWords(o, codec);
    Result result;
    std::vector<Placement> placements = PlaceClips(sizes, o.MaxBinSize, result.BinFileCount);

    std::error_code ec;
    fs::create_directories(o.OutDir, ec);
    if (!fs::is_directory(o.OutDir)) Refuse("cannot create output folder " + o.OutDir.string());

    StagedFiles staged(o.OutDir);
    std::vector<AtomicFile*> binFiles;
    for (int32_t n = 1; n <= result.BinFileCount; ++n) {
        std::string name = "Ravek-Dict__" + o.Voice + "_" + std::to_string(n) + ".bin";
        binFiles.push_back(&staged.Stage(name));
        result.BinFiles.push_back(o.OutDir / name);
    }
    uint32_t checksum = WriteBinFiles(o, placements, result.BinFileCount, binFiles, codec);
    std::string indexName = "Ravek-Index__" + o.Voice + ".txt";
    WriteIndex(o, placements, result.BinFileCount, staged.Stage(indexName), codec);
    result.IndexFile = o.OutDir / indexName;
    result.Database = o.OutDir / "Ravek.db";
    WriteDatabase(o, result.Database, staged.Stage("Ravek.db"), checksum);
    staged.Commit();
    RemoveStaleBinFiles(o, result.BinFileCount);
    result.WordCount = o.Words.size();
    return result;
}

}  // namespace VoicePack
