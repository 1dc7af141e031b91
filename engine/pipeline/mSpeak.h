#pragma once
// The body of a Speak request: idle guard, folder-change check, working folder, utterance
// preparation and hand-off to playback.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Dictionary.h"
#include "SpeechItem.h"

struct EngineAudio;
struct EngineState;

namespace mSpeak {
// The longest text one request takes, in bytes of UTF-8 (1 MiB: many pages of text). Speak
// tokenises the whole text on the engine's thread, and the utterance of a longer one would take
// memory out of proportion to any real use, so a longer text is refused (error 5 naming the limit).
inline constexpr std::size_t kMaxTextBytes = 1024 * 1024;
// Runs the request (error 91 before a successful Initialise); raises the request's AutomationError (source "RavekVoice.exe!Speak"). A
// failing request, and one whose utterance holds nothing to play, leaves the engine idle again
// with its working folder removed.
int32_t Speak(EngineState& state, EngineAudio& audio, const std::string& text);
// How many tokenised items (words and breaks: about half as many words) Speak matches before the
// hand-off, and playback each time it needs more: a long text is prepared a slice at a time, so
// the engine's thread is never held long, whatever the text's size.
inline constexpr std::size_t kItemsPerSlice = 512;
// Tokenise + CompactBreaks + sequence matching + missing-word policy and file production, the
// whole text at once. The files are written to state.CurrentDumpFolder.
std::vector<SpeechItem> PrepareUtterance(EngineState& state, const std::string& text, const Dictionary& sentenceSet,
                                         const Dictionary& wordSet);
// The utterance of `text` as Speak would prepare it, for a renderer that reads the clips itself:
// the same checks and errors as Speak (source "RavekVoice.exe!Speak": bad voice, text not UTF-8,
// empty text, text longer than kMaxTextBytes), the user recordings refreshed when due, items resolved by
// mUtterance::ResolveItems. No working folder, no file, no event; the engine stays idle.
std::vector<SpeechItem> PrepareForRender(EngineState& state, const std::string& text);
}  // namespace mSpeak
