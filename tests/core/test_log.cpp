// The support log: line formats, levels, the trace pattern of public procedures and the timer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "AnsiText.h"
#include "AutomationError.h"
#include "Installation.h"
#include "cHiResTimer.h"
#include "mLog.h"

#include <glib.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = (dir_ / "Tolvin_Log.log").string();
        log_.SetLogCodePage(1255);
    }

    std::vector<std::string> Lines() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        std::string text = AnsiText::CodecFor(1255).ToUtf8(ss.str());
        std::vector<std::string> lines;
        std::string line;
        std::istringstream is(text);
        while (std::getline(is, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

    ravektest::TempFolder temp_;
    const fs::path dir_ = temp_.Path();
    mLog::Log log_;
    std::string path_;
};

const std::regex kStamp(R"( at \d\d-\d\d-\d{4} \d\d:\d\d:\d\d$)");

}  // namespace

TEST_F(LogTest, InitEmptiesTheFileAndWriteAddsStampedLines) {
    std::ofstream(path_) << "old content\r\n";
    log_.LogInit(path_, 1);
    EXPECT_TRUE(Lines().empty());
    log_.LogWrite("hello");
    log_.LogWrite("world");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(Ravek Debug Message hello at \d\d-\d\d-\d{4} \d\d:\d\d:\d\d)")))
        << lines[0];
    EXPECT_EQ(lines[1].rfind("Ravek Debug Message world at ", 0), 0u);
    EXPECT_EQ(log_.GetLogLevel(), 1);
}

TEST_F(LogTest, HebrewTextIsWrittenInWindows1255) {
    log_.LogInit(path_, 0);
    log_.LogWrite("שָׁלוֹם");
    std::ifstream in(path_, std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // shin, qamats, shin dot, lamed, vav, holam, final mem: one byte each
    EXPECT_NE(raw.find("\xF9\xC8\xD1\xEC\xE5\xC9\xED"), std::string::npos);
    EXPECT_EQ(Lines()[0].rfind("Ravek Debug Message שָׁלוֹם at ", 0), 0u);
}

TEST_F(LogTest, TraceLinesOnlyAtLevel99) {
    for (int16_t level : {0, 1, 6, 98, 99}) {
        log_.LogInit(path_, level);
        log_.Traced("RavekVoice.exe!Speak", [this](mLog::ProcTrace&) { log_.LogWrite("inside"); });
        auto lines = Lines();
        if (level == 99) {
            ASSERT_EQ(lines.size(), 3u);
            EXPECT_TRUE(std::regex_search(lines[0], std::regex(R"(^Log  StartRavekVoice\.exe!Speak)"))) << lines[0];
            EXPECT_TRUE(std::regex_search(lines[0], kStamp));
            EXPECT_TRUE(std::regex_search(lines[2], std::regex(R"(^End RavekVoice\.exe!Speak at )"))) << lines[2];
            EXPECT_EQ(lines[1].rfind("Ravek Debug Message inside", 0), 0u);
        } else {
            ASSERT_EQ(lines.size(), 1u) << "level " << level;
        }
    }
}

TEST_F(LogTest, ErrorLineCarriesProcedureAndDescriptionWithoutDate) {
    log_.LogInit(path_, 0);
    try {
        log_.Traced("RavekVoice.exe!IAPI#Initialise", [](mLog::ProcTrace&) {
            mLog::RaiseEngineError("RavekVoice.exe!IAPI#Initialise", "Ini File does not exists at /x/y.ini", 999);
        });
        FAIL() << "the error must reach the caller";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.Number(), 999);
        EXPECT_EQ(e.Source(), "RavekVoice.exe!IAPI#Initialise");
        EXPECT_EQ(e.Description(), "Ini File does not exists at /x/y.ini");
    }
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Error RavekVoice.exe!IAPI#InitialiseIni File does not exists at /x/y.ini");
}

TEST_F(LogTest, ContextAndMissingDescription) {
    log_.LogInit(path_, 0);
    mLog::ProcTrace trace;
    log_.ProcEnter(trace, "RavekVoice.exe!StopSpeak", 99);
    EXPECT_EQ(trace.Number, -9999);
    EXPECT_EQ(trace.Line, -9999);
    EXPECT_FALSE(trace.HasError);
    trace.Context = "alias A1";
    log_.TraceError(trace, 5, 12, "");
    EXPECT_TRUE(trace.HasError);
    EXPECT_EQ(trace.Description.rfind("No Error Description - ", 0), 0u);
    EXPECT_GT(trace.Description.size(), std::string("No Error Description - ").size());
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Error RavekVoice.exe!StopSpeak" + trace.Description + " [alias A1]");
    EXPECT_THROW(log_.ProcExit(trace, 99), AutomationError);
}

TEST_F(LogTest, FirstErrorWinsAndRuntimeErrorsKeepTheirNumber) {
    log_.LogInit(path_, 0);
    try {
        log_.Traced("RavekVoice.exe!Speak", [](mLog::ProcTrace&) {
            RuntimeErrors::Raise(RuntimeErrors::SubscriptOutOfRange, "voice 9");
        });
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.Number(), 9);
        EXPECT_EQ(e.Source(), "RavekVoice.exe!Speak");
        EXPECT_EQ(e.Description(), "Subscript out of range: voice 9");
    }
}

TEST_F(LogTest, UnwritableLogIsAFileErrorNamingThePath) {
    std::string bad = (dir_ / "missing-folder" / "Tolvin_Log.log").string();
    try {
        log_.LogInit(bad, 1);
        FAIL();
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.Number(), 75);
        EXPECT_NE(e.Description().find(bad), std::string::npos);
    }
    // Trace lines never fail the traced procedure.
    log_.Traced("RavekVoice.exe!Speak", [](mLog::ProcTrace&) {});
    EXPECT_THROW(log_.LogWrite("x"), AutomationError);
}

TEST(HiResTimer, MeasuresGrowingElapsedTimes) {
    cHiResTimer timer;
    EXPECT_TRUE(timer.HasHiResCounter());
    EXPECT_EQ(timer.Frequency(), 1'000'000'000);
    timer.StartTimer();
    timer.StopTimer();
    double first = timer.ElapsedTime();
    g_usleep(2000);
    timer.StopTimer();
    double second = timer.ElapsedTime();
    EXPECT_GE(first, 0.0);
    EXPECT_GT(second, first);
    EXPECT_GE(second, 0.002);
}

TEST(LogText, DoublesInShortestRoundTripForm) {
    EXPECT_EQ(mLog::DoubleText(0.0123), "0.0123");
    EXPECT_EQ(mLog::DoubleText(2), "2");
    EXPECT_TRUE(std::regex_match(mLog::SystemDateTimeText(), std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)")));
}
