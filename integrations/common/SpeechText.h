#pragma once
// The text a speech client sends, turned into what the engine speaks: SSML tags removed, entities
// replaced by their characters, and the <mark name="..."/> places kept. Positions count Unicode
// characters (code points) from 0, as the engine's word positions do (they count from 1).
#include <cstdint>
#include <string>
#include <vector>

namespace ravek::integration {

struct TextMark {
    std::string name;
    uint32_t position = 0;  // character of the plain text the mark stands before
};

struct SpeechText {
    std::string text;              // UTF-8, what the engine speaks
    std::vector<TextMark> marks;   // in the order of the text
    // For each character of `text`, and one past its end, the character position in the text as
    // the client wrote it (SSML tags and entities counted as they were written).
    std::vector<uint32_t> sourcePositions;
};

// Both keep one character for each character spoken, line breaks and tabs turned into blanks (the
// engine separates words at blanks only).
//
// Plain text: nothing removed; source positions equal plain positions. Invalid UTF-8 is replaced
// character by character with U+FFFD so that positions stay defined.
SpeechText PlainText(const std::string& text);
// SSML (or any text with tags): tags are dropped, <mark name="..."/> recorded, the entities
// &lt; &gt; &amp; &quot; &apos; and &#N; / &#xN; replaced; an unknown or malformed entity stays
// as written. A tag left open at the end is dropped.
SpeechText SsmlText(const std::string& ssml);

// The character position (from 0) just past the word that starts at `start` of the UTF-8 text:
// the word ends at a blank or a punctuation mark (Hebrew geresh and gershayim belong to words); a
// word that starts with a punctuation mark ends at the next blank. With `words` above 1 (a recorded
// phrase) the range runs on to the end of that many words.
uint32_t WordEnd(const std::string& text, uint32_t start, uint32_t words = 1);

}  // namespace ravek::integration
