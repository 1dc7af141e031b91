#pragma once
// The body of a Speak request: idle guard, folder-change check, working folder, utterance
// preparation and hand-off to playback.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Dictionary.h"
#include "SpeechItem.h"
#include "mDump.h"

struct EngineAudio;
struct EngineState;

namespace mSpeak {
// The longest text one request takes, in bytes of UTF-8 (1 MiB: many pages of text). Preparing
// a request holds the engine's thread, so a longer text is refused (error 5 naming the limit)
// rather than leaving every other client waiting.
inline constexpr std::size_t kMaxTextBytes = 1024 * 1024;
// Runs the request (error 91 before a successful Initialise); raises the request's AutomationError (source "RavekVoice.exe!Speak"). A
// failing request, and one whose utterance holds nothing to play, leaves the engine idle again
// with its working folder removed.
int32_t Speak(EngineState& state, EngineAudio& audio, const std::string& text);
// Tokenise + CompactBreaks + sequence matching + missing-word policy and file production. The
// files are written to state.CurrentDumpFolder; with `late`, the clips past the first few are
// left for playback to write (mUtterance::ProduceFiles).
std::vector<SpeechItem> PrepareUtterance(EngineState& state, const std::string& text, const Dictionary& sentenceSet,
                                         const Dictionary& wordSet, mDump::LateClips* late = nullptr);
// The utterance of `text` as Speak would prepare it, for a renderer that reads the clips itself:
// the same checks and errors as Speak (source "RavekVoice.exe!Speak": bad voice, text not UTF-8,
// empty text, text longer than kMaxTextBytes), the user recordings refreshed when due, items resolved by
// mUtterance::ResolveItems. No working folder, no file, no event; the engine stays idle.
std::vector<SpeechItem> PrepareForRender(EngineState& state, const std::string& text);
}  // namespace mSpeak
