// The lookup database: connecting, the prefix table, per-voice lookups of naked spellings, and
// what the engine's start-up reports about them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "AutomationError.h"
#include "EngineState.h"
#include "IAPI.h"
#include "Installation.h"
#include "PointedWord.h"
#include "mMDBConnection.h"

namespace fs = std::filesystem;
using ravektest::Installation;
using ravektest::InstallationOptions;
using ravektest::TempFolder;

namespace {

// Runs SQL on a database file, creating it when needed.
void Sql(const fs::path& file, const std::string& sql) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    char* error = nullptr;
    int rc = sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &error);
    std::string message = error ? error : "";
    sqlite3_free(error);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

const char* kSchema =
    "CREATE TABLE Ravek_Prefixes (Prefix TEXT, FileName TEXT, Priority INTEGER);"
    "CREATE TABLE RavekLookup_Male (NakedWord TEXT, RavekWord TEXT, TieBreak INTEGER);"
    "CREATE TABLE RavekLookup_Female (NakedWord TEXT, RavekWord TEXT, TieBreak INTEGER);"
    "CREATE TABLE VersionInfo (Voice TEXT, Version TEXT, CheckSum INTEGER, ID INTEGER);";

std::string Stored(const std::string& word) {
    return PointedWords::SerialisePointedWord(PointedWords::ParsePointedWord(word));
}

// The connection these tests open, close and query (an engine object owns one like it).
mMDBConnection::Connection& Db() {
    static mMDBConnection::Connection connection;
    return connection;
}

// A folder holding Ravek.db built by `sql` after the schema; disconnects when done.
class DatabaseFolder {
public:
    explicit DatabaseFolder(const std::string& sql, bool schema = true) {
        Sql(folder_ / "Ravek.db", (schema ? std::string(kSchema) : std::string()) + sql);
    }
    ~DatabaseFolder() { Db().DbClose(); }
    std::string Path() const { return folder_.Path().string() + "/"; }
    int Connect() const { return Db().DbConnect(Path()); }

private:
    TempFolder folder_;
};

std::vector<PointedWords::Candidate> Lookup(const std::string& word, const std::string& sex, bool& found) {
    std::vector<PointedWords::Candidate> candidates{{"stale", "stale", "stale"}};
    Db().LookupWord(word, candidates, sex, found, 1255);
    return candidates;
}

const std::string kShalomShin = "שָׁלוֹם";
const std::string kShalomSin = "שָׂלוֹם";

}  // namespace

// ---- DbConnect ----

TEST(DbConnect, OpensAnExistingLookupDatabase) {
    DatabaseFolder db("");
    EXPECT_EQ(db.Connect(), 0);
}

TEST(DbConnect, FailsWithoutCreatingAMissingDatabase) {
    TempFolder folder;
    EXPECT_EQ(Db().DbConnect(folder.Path().string() + "/"), -1);
    EXPECT_FALSE(fs::exists(folder / "Ravek.db"));
    EXPECT_EQ(Db().DbConnect(folder.Path().string() + "/no/such/folder/"), -1);
}

TEST(DbConnect, FailsForOtherFilesButNotForMissingTables) {
    TempFolder folder;
    ravektest::WriteFileBytes(folder / "Ravek.db", "Standard Jet DB\0 this is no SQLite file at all");
    EXPECT_EQ(Db().DbConnect(folder.Path().string() + "/"), -1);
    // A database without the lookup tables connects; its lookups find nothing.
    DatabaseFolder noLookup("CREATE TABLE Ravek_Prefixes (Prefix TEXT, FileName TEXT, Priority INTEGER);", false);
    ASSERT_EQ(noLookup.Connect(), 0);
    bool found = true;
    EXPECT_TRUE(Lookup("ספר", "Male", found).empty());
    EXPECT_FALSE(found);
    DatabaseFolder empty("", false);
    EXPECT_EQ(empty.Connect(), 0);
    PrefixTable prefixes;
    EXPECT_EQ(Db().LoadPrefixes(prefixes, 1255), -1);
}

TEST(LoadPrefixes, FailuresCarryTheirReason) {
    PrefixTable table;
    std::string reason;
    Db().DbClose();
    EXPECT_EQ(Db().LoadPrefixes(table, 1255, &reason), -1);
    EXPECT_EQ(reason, "no database connection");
    struct Case {
        std::string sql;
        bool schema;
        std::string reason;
    };
    for (const Case& c : {Case{"", false, "no such table: Ravek_Prefixes"},
                          Case{"INSERT INTO Ravek_Prefixes VALUES ('ו', 'a.mp3', 1);"
                               "INSERT INTO Ravek_Prefixes VALUES ('ה', NULL, 2);",
                               true, "prefix row 2 has no file name"}}) {
        DatabaseFolder db(c.sql, c.schema);
        ASSERT_EQ(db.Connect(), 0);
        EXPECT_EQ(Db().LoadPrefixes(table, 1255, &reason), -1);
        EXPECT_EQ(reason, c.reason);
    }
    TempFolder folder;
    ravektest::WriteFileBytes(folder / "Ravek.db", std::string(200, 'x'));
    EXPECT_EQ(Db().DbConnect(folder.Path().string() + "/", &reason), -1);
    EXPECT_EQ(reason, "file is not a database");
    EXPECT_EQ(Db().DbConnect(folder.Path().string() + "/missing/", &reason), -1);
    EXPECT_EQ(reason, "unable to open database file");
}

TEST(DbConnect, LaterConnectReplacesTheConnection) {
    DatabaseFolder first("INSERT INTO RavekLookup_Male VALUES ('ספר', '" + Stored("ספר") + "', 1);");
    DatabaseFolder second("");
    ASSERT_EQ(first.Connect(), 0);
    ASSERT_EQ(second.Connect(), 0);
    bool found = true;
    EXPECT_TRUE(Lookup("ספר", "Male", found).empty());
    EXPECT_FALSE(found);
    ASSERT_EQ(second.Connect(), 0);
    Db().DbClose();
    Lookup("ספר", "Male", found);
    EXPECT_FALSE(found);
}

// ---- LoadPrefixes ----

TEST(LoadPrefixes, ReadsRowsInPriorityOrder) {
    DatabaseFolder db(
        "INSERT INTO Ravek_Prefixes VALUES ('הַ', 'ha.mp3', 2);"
        "INSERT INTO Ravek_Prefixes VALUES ('ו', 've.mp3', 9);"
        "INSERT INTO Ravek_Prefixes VALUES ('וְ', 've.mp3', 1);");
    ASSERT_EQ(db.Connect(), 0);
    PrefixTable table;
    ASSERT_EQ(Db().LoadPrefixes(table, 1255), 0);
    EXPECT_EQ(table.Count, 2);
    EXPECT_EQ(table.FileNames, (std::vector<std::string>{"ve.mp3", "ha.mp3", "ve.mp3"}));
    ASSERT_EQ(table.Patterns.size(), 3u);
    EXPECT_EQ(table.Patterns[0].Text, "וְ");
    EXPECT_EQ(table.Patterns[0].Letters, "ו");
    EXPECT_EQ(table.Patterns[0].VowelClass, std::vector<int32_t>{198});
    EXPECT_EQ(table.Patterns[1].Vowel, std::vector<int32_t>{199});
    EXPECT_EQ(table.Prefixes.Keys(), (std::vector<std::string>{"וְ", "הַ", "ו"}));
    EXPECT_EQ(table.Prefixes.Item("הַ"), "ha.mp3");
}

TEST(LoadPrefixes, EmptyTableCountsMinusOne) {
    DatabaseFolder db("");
    ASSERT_EQ(db.Connect(), 0);
    PrefixTable table;
    EXPECT_EQ(Db().LoadPrefixes(table, 1255), 0);
    EXPECT_EQ(table.Count, -1);
    EXPECT_TRUE(table.Patterns.empty());
}

TEST(LoadPrefixes, DuplicatesNullsAndMissingConnectionFail) {
    DatabaseFolder dup("INSERT INTO Ravek_Prefixes VALUES ('ו', 'a.mp3', 1);"
                       "INSERT INTO Ravek_Prefixes VALUES ('ו', 'b.mp3', 2);");
    ASSERT_EQ(dup.Connect(), 0);
    PrefixTable table;
    table.Count = 42;
    EXPECT_LT(Db().LoadPrefixes(table, 1255), 0);
    EXPECT_EQ(table.Count, 42);

    DatabaseFolder nulls("INSERT INTO Ravek_Prefixes VALUES (NULL, 'a.mp3', 1);");
    ASSERT_EQ(nulls.Connect(), 0);
    EXPECT_LT(Db().LoadPrefixes(table, 1255), 0);

    Db().DbClose();
    EXPECT_LT(Db().LoadPrefixes(table, 1255), 0);
}

TEST(LoadPrefixes, ValuesOfOtherTypesReadAsText) {
    DatabaseFolder db("INSERT INTO Ravek_Prefixes VALUES (7, 3.5, 'x');");
    ASSERT_EQ(db.Connect(), 0);
    PrefixTable table;
    ASSERT_EQ(Db().LoadPrefixes(table, 1255), 0);
    EXPECT_EQ(table.Prefixes.Item("7"), "3.5");
}

TEST(LoadPrefixes, TableWithoutTheColumnsFails) {
    DatabaseFolder db(
        "CREATE TABLE Ravek_Prefixes (Something TEXT);"
        "CREATE TABLE RavekLookup_Male (NakedWord TEXT, RavekWord TEXT, TieBreak INTEGER);"
        "CREATE TABLE RavekLookup_Female (NakedWord TEXT, RavekWord TEXT, TieBreak INTEGER);",
        false);
    ASSERT_EQ(db.Connect(), 0);
    PrefixTable table;
    EXPECT_LT(Db().LoadPrefixes(table, 1255), 0);
}

// ---- LookupWord ----

TEST(LookupWord, ThreePointedWordsGiveFourCandidatesTheLastEmpty) {
    DatabaseFolder db("INSERT INTO RavekLookup_Male VALUES ('שלום', '" + Stored(kShalomShin) + "', 2);"
                      "INSERT INTO RavekLookup_Male VALUES ('שלום', '" + Stored(kShalomSin) + "', 1);"
                      "INSERT INTO RavekLookup_Male VALUES ('שלום', '" + Stored("שלום") + "', 3);"
                      "INSERT INTO RavekLookup_Male VALUES ('ספר', '" + Stored("ספר") + "', 1);"
                      "INSERT INTO RavekLookup_Female VALUES ('שלום', '" + Stored("שלום") + "', 1);");
    ASSERT_EQ(db.Connect(), 0);
    bool found = false;
    auto candidates = Lookup(kShalomShin, "Male", found);  // looked up by its naked spelling
    EXPECT_TRUE(found);
    ASSERT_EQ(candidates.size(), 4u);
    EXPECT_EQ(candidates[0].NakedWord, "שלום");
    EXPECT_EQ(candidates[0].RavekWord, Stored(kShalomShin));
    EXPECT_EQ(candidates[0].TieBreak, "2");
    EXPECT_EQ(candidates[1].RavekWord, Stored(kShalomSin));
    EXPECT_EQ(candidates[3].NakedWord, "");
    EXPECT_EQ(candidates[3].RavekWord, "");
    EXPECT_EQ(candidates[3].TieBreak, "");
    // The female table is another table.
    EXPECT_EQ(Lookup("שלום", "Female", found).size(), 2u);
    // And the candidates feed the choice of the best one.
    int32_t best = 0, index = 0;
    PointedWords::BestCandidate(kShalomShin, candidates, best, index);
    EXPECT_EQ(index, 0);
}

TEST(LookupWord, NoRowsMeansNotFoundAndNoCandidates) {
    DatabaseFolder db("");
    ASSERT_EQ(db.Connect(), 0);
    bool found = true;
    EXPECT_TRUE(Lookup("שלום", "Male", found).empty());
    EXPECT_FALSE(found);
}

TEST(LookupWord, WordsWithQuotesFindTheirRealCandidates) {
    // Abbreviations carry a geresh or gershayim, often typed as an apostrophe or a double quote.
    DatabaseFolder db("INSERT INTO RavekLookup_Male VALUES ('פרופ''', 'פרופ''|פרופ''|False|0,0,0,0*0,0,0,0*0,0,0,0*0,0,0,0*0,0,0,0', 1);"
                      "INSERT INTO RavekLookup_Male VALUES ('צה\"ל', 'x', 1);"
                      "INSERT INTO RavekLookup_Male VALUES ('x'' OR ''1''=''1', 'y', 1);");
    ASSERT_EQ(db.Connect(), 0);
    bool found = false;
    auto apostrophe = Lookup("פרופ'", "Male", found);
    EXPECT_TRUE(found);
    ASSERT_EQ(apostrophe.size(), 2u);
    EXPECT_EQ(apostrophe[0].NakedWord, "פרופ'");
    EXPECT_EQ(Lookup("צה\"ל", "Male", found).size(), 2u);
    // Text that would change a pasted statement is only a spelling that matches itself.
    auto injected = Lookup("x' OR '1'='1", "Male", found);
    ASSERT_EQ(injected.size(), 2u);
    EXPECT_EQ(injected[0].RavekWord, "y");
    EXPECT_TRUE(Lookup("' OR 1=1 --", "Male", found).empty());
    EXPECT_FALSE(found);
}

TEST(LookupWord, ReadBatchGivesTheSameAnswersAndSurvivesAClosedConnection) {
    DatabaseFolder db("INSERT INTO RavekLookup_Male VALUES ('ספר', '" + Stored("סֵפֶר") + "', 1);");
    { mMDBConnection::ReadBatch noConnection(Db()); }  // nothing to read from: harmless
    ASSERT_EQ(db.Connect(), 0);
    bool found = false;
    {
        mMDBConnection::ReadBatch batch(Db());
        mMDBConnection::ReadBatch nested(Db());  // a second batch inside the first changes nothing
        EXPECT_EQ(Lookup("ספר", "Male", found).size(), 2u);
        EXPECT_TRUE(found);
        EXPECT_TRUE(Lookup("בית", "Male", found).empty());
        EXPECT_FALSE(found);
    }
    EXPECT_EQ(Lookup("ספר", "Male", found).size(), 2u);  // the batch has ended: lookups go on
    {
        mMDBConnection::ReadBatch batch(Db());
        EXPECT_EQ(Lookup("ספר", "Male", found).size(), 2u);
        Db().DbClose();  // the connection goes away while the batch lives
    }
    Lookup("ספר", "Male", found);
    EXPECT_FALSE(found);
    ASSERT_EQ(db.Connect(), 0);
    EXPECT_EQ(Lookup("ספר", "Male", found).size(), 2u);
}

// A batch that has looked up many phrases stops querying them when the table holds none; a row
// added by another program between requests is found by the next batch all the same.
TEST(LookupWord, PhrasesRuledOutInABatchAreFoundOnceTheTableHoldsThem) {
    DatabaseFolder db("INSERT INTO RavekLookup_Male VALUES ('ספר', '" + Stored("סֵפֶר") + "', 1);");
    ASSERT_EQ(db.Connect(), 0);
    bool found = true;
    EXPECT_TRUE(Db().MayHoldPhrases("Male"));  // outside a batch every phrase is queried
    {
        mMDBConnection::ReadBatch batch(Db());
        for (int i = 0; i < 300; ++i) Lookup("ספר טוב", "Male", found);
        EXPECT_FALSE(found);
        EXPECT_FALSE(Db().MayHoldPhrases("Male"));
        EXPECT_EQ(Lookup("ספר", "Male", found).size(), 2u);  // single words are still queried
    }
    Sql(fs::path(db.Path()) / "Ravek.db", "INSERT INTO RavekLookup_Male VALUES ('ספר טוב', '" + Stored("סֵפֶר טוֹב") + "', 1);");
    for (int request = 0; request < 2; ++request) {
        mMDBConnection::ReadBatch batch(Db());
        for (int i = 0; i < 300; ++i) {
            Lookup("ספר טוב", "Male", found);
            ASSERT_TRUE(found) << "lookup " << i << " of request " << request;
        }
        EXPECT_TRUE(Db().MayHoldPhrases("Male"));
    }
}

TEST(LookupWord, OnlyTheTwoSexWordsNameATable) {
    DatabaseFolder db("INSERT INTO RavekLookup_Male VALUES ('ספר', 'x', 1);"
                      "CREATE TABLE RavekLookup_Other (NakedWord TEXT, RavekWord TEXT, TieBreak INTEGER);"
                      "INSERT INTO RavekLookup_Other VALUES ('ספר', 'x', 1);");
    ASSERT_EQ(db.Connect(), 0);
    bool found = true;
    for (const char* sex : {"Other", "male", "Male; DROP TABLE RavekLookup_Male", ""}) {
        EXPECT_TRUE(Lookup("ספר", sex, found).empty()) << sex;
        EXPECT_FALSE(found) << sex;
    }
    EXPECT_EQ(Lookup("ספר", "Male", found).size(), 2u);
}

TEST(LookupWord, DamagedTablesGiveNoCandidates) {
    DatabaseFolder twoColumns(
        "CREATE TABLE Ravek_Prefixes (Prefix TEXT, FileName TEXT, Priority INTEGER);"
        "CREATE TABLE RavekLookup_Male (NakedWord TEXT, RavekWord TEXT);"
        "INSERT INTO RavekLookup_Male VALUES ('ספר', 'x');"
        "CREATE TABLE RavekLookup_Female (Other TEXT);",
        false);
    ASSERT_EQ(twoColumns.Connect(), 0);
    bool found = true;
    EXPECT_TRUE(Lookup("ספר", "Male", found).empty());
    EXPECT_FALSE(found);
    EXPECT_TRUE(Lookup("ספר", "Female", found).empty());
    EXPECT_FALSE(found);
}

TEST(LookupWord, ValuesOfOtherTypesReadAsTextAndNullsAsEmpty) {
    DatabaseFolder db("INSERT INTO RavekLookup_Male VALUES ('ספר', NULL, 'soon');"
                      "INSERT INTO RavekLookup_Male VALUES ('ספר', 12, 2.5);");
    ASSERT_EQ(db.Connect(), 0);
    bool found = false;
    auto candidates = Lookup("ספר", "Male", found);
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_EQ(candidates[0].RavekWord, "");
    EXPECT_EQ(candidates[0].TieBreak, "soon");
    EXPECT_EQ(candidates[1].RavekWord, "12");
    EXPECT_EQ(candidates[1].TieBreak, "2.5");
    int32_t best = 0, index = 0;
    PointedWords::BestCandidate("ספר", candidates, best, index);  // none usable, none fatal
    EXPECT_EQ(index, -1);
}

// ---- start-up with a real installation ----

TEST(StartUpDatabase, ReportsConnectionAndPrefixCount) {
    Installation inst;
    IAPI api;
    api.Initialise();
    EXPECT_TRUE(inst.LogContains("DB Connection established successfully..  "));
    EXPECT_TRUE(inst.LogContains("Prefixes were retrived ( 5)"));
    EXPECT_EQ(api.State().Prefixes.Count, 5);
    EXPECT_TRUE(api.State().VoiceReady[0]);
    EXPECT_TRUE(api.State().VoiceReady[1]);
}

TEST(StartUpDatabase, EmptyPrefixTableReportsMinusOne) {
    InstallationOptions o;
    o.Prefixes.clear();
    Installation inst(o);
    IAPI api;
    api.Initialise();
    EXPECT_TRUE(inst.LogContains("Prefixes were retrived ( -1)"));
    EXPECT_EQ(api.State().Prefixes.Count, -1);
    EXPECT_TRUE(api.State().VoiceReady[0]);
}

TEST(StartUpDatabase, DuplicatePrefixesDisableBothDictionaryVoices) {
    Installation inst;
    Sql(inst.DatabasePath(), "INSERT INTO Ravek_Prefixes VALUES ('הַ', 'other.mp3', 99);");
    IAPI api;
    api.Initialise();
    EXPECT_TRUE(inst.LogContains("FAILED to get profixes .. Assuming no smart lookup.. "));
    EXPECT_FALSE(api.State().VoiceReady[0]);
    EXPECT_FALSE(api.State().VoiceReady[1]);
    EXPECT_TRUE(inst.LogContains(" Male Voice initiated >>> INPROPERLY <<< "));
    EXPECT_TRUE(api.State().IsInitialised);
}

TEST(StartUpDatabase, MissingTablesFailOnlyWhatNeedsThem) {
    {
        Installation inst;
        Sql(inst.DatabasePath(), "DROP TABLE RavekLookup_Female;");
        IAPI api;
        api.Initialise();
        EXPECT_TRUE(inst.LogContains("DB Connection established successfully..  "));
        EXPECT_TRUE(api.State().VoiceReady[0]);
        EXPECT_TRUE(api.State().VoiceReady[1]);  // its smart lookups simply find nothing
    }
    Installation inst;
    Sql(inst.DatabasePath(), "DROP TABLE Ravek_Prefixes;");
    IAPI api;
    api.Initialise();
    EXPECT_TRUE(inst.LogContains("DB Connection established successfully..  "));
    EXPECT_TRUE(inst.LogContains("FAILED to get profixes .. Assuming no smart lookup.. "));
    EXPECT_FALSE(api.State().VoiceReady[0]);
    EXPECT_FALSE(api.State().VoiceReady[1]);
}

TEST(StartUpDatabase, UnreachableDatabaseStillInitialises) {
    InstallationOptions o;
    o.WriteDatabase = false;
    Installation inst(o);
    IAPI api;
    api.Initialise();
    EXPECT_TRUE(inst.LogContains("DB Connection failed .. Assuming no smart lookup.. "));
    EXPECT_FALSE(inst.LogContains("DB Connection established"));
    EXPECT_FALSE(fs::exists(inst.DatabasePath()));
    EXPECT_FALSE(api.State().VoiceReady[0]);
    EXPECT_FALSE(api.State().VoiceReady[1]);
    EXPECT_TRUE(inst.LogContains(" Male Voice initiated >>> INPROPERLY <<< "));
    EXPECT_TRUE(inst.LogContains(" Female Voice initiated >>> INPROPERLY <<< "));
    EXPECT_TRUE(api.State().IsInitialised);
    EXPECT_TRUE(api.State().IsIdle);
}

TEST(StartUpDatabase, NonDatabaseFileCountsAsUnreachable) {
    Installation inst;
    ravektest::WriteFileBytes(inst.DatabasePath(), "not a database");
    IAPI api;
    api.Initialise();
    EXPECT_TRUE(inst.LogContains("DB Connection failed .. Assuming no smart lookup.. "));
    EXPECT_FALSE(api.State().VoiceReady[0]);
}

TEST(StartUpDatabase, MissingIniFailsAfterTheDatabaseStep) {
    InstallationOptions o;
    o.WriteIni = false;
    Installation inst(o);
    IAPI api;
    try {
        api.Initialise();
        FAIL() << "Initialise succeeded without an INI file";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.Number(), 999);
        EXPECT_EQ(e.Description(), "Ini File does not exists at " + inst.IniPath().string());
    }
    EXPECT_FALSE(api.State().IsInitialised);
    std::vector<std::string> log = inst.LogMessages();
    auto db = std::find_if(log.begin(), log.end(), [](const std::string& m) { return m.rfind("Prefixes were retrived", 0) == 0; });
    ASSERT_NE(db, log.end());
    EXPECT_FALSE(inst.LogContains("Ini file detected at "));
    EXPECT_FALSE(inst.LogContains("Male index loaded from "));
}
