#include "EngineState.h"

#include "AutomationError.h"
#include "mLog.h"

int EngineState::DataSlot(int voice) {
    if (voice < 0 || voice > kVoiceCount)
        RuntimeErrors::Raise(RuntimeErrors::SubscriptOutOfRange, "voice " + std::to_string(voice + 1) + " does not exist");
    return voice < 2 ? voice : voice - 2;
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
