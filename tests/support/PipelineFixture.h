#pragma once
// Shared by the speech pipeline tests: an initialised engine on a fixture installation, with its
// temporary folder inside the installation and its events recorded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "AutomationError.h"
#include "IAPI.h"
#include "Installation.h"
#include "mSpeak.h"

inline void PrintTo(const SpeechItem& item, std::ostream* os) {
    *os << "{kind " << static_cast<int>(item.Kind) << ", \"" << item.Text << "\", pos " << item.Position << ", found "
        << item.Found << ", source " << static_cast<int>(item.Source) << ", file \"" << item.File << "\"}";
}

struct EventRecorder : EngineEvents {
    std::vector<std::string> Seen;
    void SpeechStart() override { Seen.push_back("SpeechStart"); }
    void WordStart(int32_t index) override { Seen.push_back("WordStart " + std::to_string(index)); }
    void Speechend() override { Seen.push_back("Speechend"); }
};

class PipelineTest : public ::testing::Test {
protected:
    // The tests name kinds and sources without their enum's name.
    using enum ItemKind;
    using enum ItemSource;

    void TearDown() override {
        api.reset();
        if (savedTmp) ::setenv("TMPDIR", savedTmp->c_str(), 1);
        else ::unsetenv("TMPDIR");
        inst.reset();
    }

    // Writes the installation, points $TMPDIR into it and initialises an engine on it.
    void Start(const ravektest::InstallationOptions& options = ravektest::InstallationOptions()) {
        if (const char* tmp = std::getenv("TMPDIR")) savedTmp = tmp;
        inst.emplace(options);
        tmp = inst->Root() / "tmp";
        std::filesystem::create_directories(tmp);
        ::setenv("TMPDIR", tmp.c_str(), 1);
        api.emplace();
        api->SetEventSink(&events);
        api->Initialise();
    }

    EngineState& State() { return api->State(); }
    EngineAudio& Audio() { return api->Audio(); }

    // The utterance of `text` for a client voice number (1..4), files made in Work().
    std::vector<SpeechItem> Prepare(const std::string& text, int voice = 3) {
        State().ActiveVoice = static_cast<int16_t>(voice - 1);
        State().DumpFileCounter = 0;
        std::filesystem::create_directories(Work());
        State().CurrentDumpFolder = Work();
        return mSpeak::PrepareUtterance(State(), text, *State().SentenceSet, *State().WordSet);
    }

    // The working folder of Prepare.
    std::string Work() const { return (tmp / "work").string() + "/"; }
    std::string UserFile(int slot, const std::string& name) const { return (inst->MyRecordsFolder(slot) / name).string(); }
    std::string SystemFile(int slot, const std::string& name) const { return (inst->SystemFolder(slot) / name).string(); }

    // The error of a call, or number 0 when it raised none.
    template <typename F>
    static AutomationError ErrorOf(F&& call) {
        try {
            call();
        } catch (const AutomationError& e) {
            return e;
        }
        return AutomationError(0, "", "");
    }

    static SpeechItem Item(ItemKind kind, const std::string& text, int32_t position, bool found = false,
                           const std::string& file = {}, ItemSource source = ItemSource::NoSource) {
        return SpeechItem{text, position, kind, found, file, source};
    }

    std::optional<ravektest::Installation> inst;
    std::optional<IAPI> api;
    EventRecorder events;
    std::filesystem::path tmp;
    std::optional<std::string> savedTmp;
};
