#pragma once
// The framed stream of the output format "audio/x-spiel": a 4-byte version header, then audio and
// event chunks, all numbers in the host's byte order.
//   audio chunk: u8 1, u32 byte count, the samples (16-bit signed, mono, 22,050 Hz)
//   event chunk: u8 2, u8 type, u32 start, u32 end, u32 name length, the name (UTF-8)
// Ranges are 0-based character positions in the text the client sent.
#include <cstddef>
#include <cstdint>
#include <string>

namespace ravek::spiel {

constexpr const char* kStreamVersion = "0.01";
constexpr const char* kOutputFormat = "audio/x-spiel,format=S16LE,channels=1,rate=22050";
constexpr uint64_t kEventsWord = 0x1;  // voice feature flag: the stream carries WORD events

enum class EventType : uint8_t { Word = 1, Sentence = 2, Range = 3, Mark = 4 };

std::string StreamHeader();
std::string AudioChunk(const int16_t* samples, std::size_t count);
std::string EventChunk(EventType type, uint32_t start, uint32_t end, const std::string& name = "");

}  // namespace ravek::spiel
