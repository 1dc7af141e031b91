#include "mSpeak.h"

#include <climits>

#include "AnsiText.h"
#include "AutomationError.h"
#include "EngineAudio.h"
#include "EngineState.h"
#include "mLog.h"
#include "mMDBConnection.h"
#include "mRecordings.h"
#include "mSequencer.h"
#include "mTokeniser.h"
#include "mUtterance.h"
#include "mWordResolution.h"
#include "mWorkingFolder.h"

namespace mSpeak {

namespace {

constexpr const char* kSpeakProc = "RavekVoice.exe!Speak";

// Passes the events through to the client while remembering whether SpeechStart went out, so
// that a request failing after it can close the speech with Speechend.
class EventWatch : public EngineEvents {
public:
    EventWatch(EngineState& state, bool& started) : state_(state), client_(state.Events), started_(started) {
        state_.Events = this;
    }
    ~EventWatch() override { state_.Events = client_; }
    EventWatch(const EventWatch&) = delete;
    EventWatch& operator=(const EventWatch&) = delete;
    void SpeechStart() override {
        started_ = true;
        if (client_) client_->SpeechStart();
    }
    void WordStart(int32_t wordIndex) override {
        if (client_) client_->WordStart(wordIndex);
    }
    void Speechend() override {
        if (client_) client_->Speechend();
    }
private:
    EngineState& state_;
    EngineEvents* client_;
    bool& started_;
};

void CheckTextSize(const std::string& text) {
    if (text.size() > kMaxTextBytes)
        RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall,
                             "the text has " + std::to_string(text.size()) + " bytes; one request takes at most " +
                                 std::to_string(kMaxTextBytes) + " bytes (1 MiB) of UTF-8");
}

void TakeSelectedVoice(EngineState& state) {
    if (state.SelectedVoice == state.ActiveVoice) return;
    if (state.SelectedVoice < INT16_MIN || state.SelectedVoice > INT16_MAX)
        RuntimeErrors::Raise(RuntimeErrors::Overflow, "voice " + std::to_string(int64_t{state.SelectedVoice} + 1));
    state.ActiveVoice = static_cast<int16_t>(state.SelectedVoice);
}

void RenewWorkingFolder(EngineState& state) {
    mWorkingFolder::RemoveWorkingFolder(state.WorkingFolders, state.CurrentDumpFolder);
    state.CurrentDumpFolder = mWorkingFolder::CreateWorkingFolder(state.WorkingFolders, state.Settings.AvoidShortNames);
}

const Dictionary& SeparatorSet(const std::shared_ptr<Dictionary>& set, const char* name) {
    if (!set) throw AutomationError(91, "RavekVoice", std::string("Object variable or With block variable not set: ") + name);
    return *set;
}

// Ends a speech that cannot go on (a failed request, or nothing to play): Speechend goes out
// only when SpeechStart did, the engine is idle again and the working folder is gone.
void EndRequest(EngineState& state, EngineAudio& audio, bool speechStarted) {
    try {
        if (!state.IsIdle) {
            if (speechStarted) mSequencer::RaiseSpeechEnd(state, audio);
            state.IsIdle = true;
        }
    } catch (...) {
        state.IsIdle = true;
    }
    mWorkingFolder::RemoveWorkingFolder(state.WorkingFolders, state.CurrentDumpFolder);
    state.CurrentDumpFolder.clear();
}

std::vector<SpeechItem> CompactedItems(EngineState& state, const std::string& text, const Dictionary& sentenceSet,
                                       const Dictionary& wordSet) {
    return mTokeniser::CompactBreaks(mTokeniser::Tokenise(state, text, sentenceSet, wordSet));
}

std::vector<SpeechItem> MatchedItems(EngineState& state, const std::string& text, const Dictionary& sentenceSet,
                                     const Dictionary& wordSet) {
    std::vector<SpeechItem> items = CompactedItems(state, text, sentenceSet, wordSet);
    mMDBConnection::ReadBatch batch(state.Database);  // the smart lookups of the request in one read transaction
    return mWordResolution::MatchSequences(state, items);
}

// Matches the next slice of a request's text and appends its playable items to the utterance.
void PrepareSlice(EngineState& state, mWordResolution::SlicedMatcher& matcher, mUtterance::FileProducer& files,
                  std::vector<size_t>& lateItems) {
    std::vector<SpeechItem> matched;
    {
        mMDBConnection::ReadBatch batch(state.Database);  // the slice's smart lookups in one read transaction
        matcher.Match(kItemsPerSlice, matched);
    }
    files.Produce(std::move(matched), state.Utterance, lateItems);
}

// Prepares the first slice of the text into state.Utterance and hands the speech to playback,
// which prepares the rest (if any) slice by slice just ahead of what it plays.
void PrepareAndHandOff(EngineState& state, EngineAudio& audio, const std::string& text, bool& speechStarted) {
    auto matcher = std::make_shared<mWordResolution::SlicedMatcher>(
        state, CompactedItems(state, text, SeparatorSet(state.SentenceSet, "sentence separators"),
                              SeparatorSet(state.WordSet, "word separators")));
    auto files = std::make_shared<mUtterance::FileProducer>(state, true);
    std::vector<size_t> lateItems;
    state.Utterance.clear();
    PrepareSlice(state, *matcher, *files, lateItems);
    mSequencer::MoreText more;
    if (!matcher->Done())
        more = [&state, matcher, files](std::vector<size_t>& late) {
            PrepareSlice(state, *matcher, *files, late);
            return !matcher->Done();
        };
    if (state.Log.Detail()) state.Log.LogWrite("Processing before Speach is done in " + state.Elapsed());
    EventWatch watch(state, speechStarted);
    mSequencer::HandOff(state, audio, files->Clips(), lateItems, std::move(more));
}

}  // namespace

std::vector<SpeechItem> PrepareUtterance(EngineState& state, const std::string& text, const Dictionary& sentenceSet,
                                         const Dictionary& wordSet) {
    return mUtterance::ProduceFiles(state, MatchedItems(state, text, sentenceSet, wordSet));
}

std::vector<SpeechItem> PrepareForRender(EngineState& state, const std::string& text) {
    mLog::ProcTrace trace;
    state.Log.ProcEnter(trace, kSpeakProc, mLog::kTrace);
    std::vector<SpeechItem> items;
    try {
        CheckTextSize(text);
        TakeSelectedVoice(state);
        state.ActiveSlot();
        if (!AnsiText::IsValidUtf8(text))
            RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "the text is not valid UTF-8");
        mRecordings::RefreshIfChanged(state);
        items = mUtterance::ResolveItems(state, MatchedItems(state, text, SeparatorSet(state.SentenceSet, "sentence separators"),
                                                             SeparatorSet(state.WordSet, "word separators")));
    } catch (const AutomationError& e) {
        state.Log.TraceError(trace, e.Number(), -9999, e.Description());
    } catch (const std::exception& e) {
        state.Log.TraceError(trace, RuntimeErrors::PathFileAccessError, -9999, e.what());
    }
    state.Log.ProcExit(trace, mLog::kTrace);
    return items;
}

int32_t Speak(EngineState& state, EngineAudio& audio, const std::string& text) {
    mLog::ProcTrace trace;
    state.Log.ProcEnter(trace, kSpeakProc, mLog::kTrace);
    bool accepted = false;
    bool speechStarted = false;
    try {
        // An engine that never started would accept the text and never end it: the client must
        // hear that Initialise has to succeed first.
        if (!state.IsInitialised)
            throw AutomationError(91, "RavekVoice",
                                  "Object variable or With block variable not set: the engine is not initialised "
                                  "(Initialise has not succeeded)");
        CheckTextSize(text);
        TakeSelectedVoice(state);
        if (state.IsIdle) {
            state.ActiveSlot();  // a voice outside the four (and the unused fifth) is error 9
            // Text that is not UTF-8 would be spoken as a string of unknown words: refuse it.
            if (!AnsiText::IsValidUtf8(text))
                RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "the text is not valid UTF-8");
            state.DumpFileCounter = 0;
            if (state.Log.Detail()) {
                state.StartTimer();
                state.Log.LogWrite("Speak request arrived at " + mLog::SystemDateTimeText());
            }
            mRecordings::RefreshIfChanged(state);
            RenewWorkingFolder(state);
            state.IsIdle = false;
            accepted = true;
            PrepareAndHandOff(state, audio, text, speechStarted);
            // Nothing was started: close the speech here, or the engine would stay busy for good.
            if (!state.IsIdle && !mUtterance::HasPlayableItem(state, state.Utterance))
                EndRequest(state, audio, speechStarted);
        }
    } catch (const AutomationError& e) {
        state.Log.TraceError(trace, e.Number(), -9999, e.Description());
        if (accepted) EndRequest(state, audio, speechStarted);
    } catch (const std::exception& e) {
        state.Log.TraceError(trace, RuntimeErrors::PathFileAccessError, -9999, e.what());
        if (accepted) EndRequest(state, audio, speechStarted);
    }
    state.Log.ProcExit(trace, mLog::kTrace);
    return 0;
}

}  // namespace mSpeak
