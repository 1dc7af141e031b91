#include "EngineState.h"

#include <climits>

#include "AutomationError.h"
#include "mLog.h"

int EngineState::DataSlot(int32_t voice) {
    if (voice < 0 || voice > kVoiceCount)
        RuntimeErrors::Raise(RuntimeErrors::SubscriptOutOfRange,
                             "voice " + std::to_string(Shifted(voice, 1, "voice")) + " does not exist");
    return voice < 2 ? voice : voice - 2;
}

int32_t EngineState::Shifted(int32_t number, int32_t delta, const std::string& what) {
    const int64_t result = int64_t{number} + delta;
    if (result < INT32_MIN || result > INT32_MAX)
        RuntimeErrors::Raise(RuntimeErrors::Overflow, what + " " + std::to_string(number) + " " + (delta < 0 ? "- " : "+ ") +
                                                          std::to_string(delta < 0 ? -int64_t{delta} : int64_t{delta}) +
                                                          " does not fit in 32 bits");
    return static_cast<int32_t>(result);
}

const VoicePermission& EngineState::ActivePermissions() const {
    DataSlot(ActiveVoice);
    return VoicePermissions[ActiveVoice];
}

namespace {
Dictionary& SlotDictionary(const std::array<std::shared_ptr<Dictionary>, EngineState::kSlots>& dicts, int slot,
                           const char* what) {
    if (slot < 0 || slot >= EngineState::kSlots)
        RuntimeErrors::Raise(RuntimeErrors::SubscriptOutOfRange, std::string(what) + " of slot " + std::to_string(slot));
    if (!dicts[slot])
        throw AutomationError(91, "RavekVoice",
                              std::string("Object variable or With block variable not set: ") + what + " of slot " +
                                  std::to_string(slot) + " is not loaded");
    return *dicts[slot];
}
}  // namespace

Dictionary& EngineState::UserDictionary(int slot) const { return SlotDictionary(UserDictionaries, slot, "user recordings"); }
Dictionary& EngineState::IndexDictionary(int slot) const { return SlotDictionary(IndexDictionaries, slot, "dictionary index"); }
Dictionary& EngineState::SystemDictionary(int slot) const {
    return SlotDictionary(SystemDictionaries, slot, "system recordings");
}

void EngineState::StartTimer() {
    if (!Timer) Timer.emplace();
    Timer->StartTimer();
}

std::string EngineState::Elapsed() {
    if (!Timer) Timer.emplace();
    Timer->StopTimer();
    return mLog::DoubleText(Timer->ElapsedTime());
}
