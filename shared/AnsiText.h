#pragma once
// Conversion between the program's UTF-8 text and a Windows ANSI code page (1255 Hebrew, 1251
// Russian, 1252 English, 1256 Arabic). Decoding is byte for byte from a table, so a Hebrew letter
// followed by a vowel point stays two characters (glibc's own CP1255 decoder would compose them
// into one presentation form and break the round trip).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace AnsiText {

// Code points of a UTF-8 text; an invalid byte sequence decodes as U+FFFD per bad byte.
std::vector<char32_t> DecodeUtf8(std::string_view utf8);
std::string EncodeUtf8(char32_t codePoint);
// The text split into characters (each a UTF-8 string).
std::vector<std::string> Characters(std::string_view utf8);
// Number of characters (code points) in a UTF-8 text.
std::size_t CharacterCount(std::string_view utf8);
// Whether the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);
// Lower-case form of a UTF-8 text (Unicode simple case mapping).
std::string ToLower(std::string_view utf8);

class Codec {
public:
    // Raises error 5 for a code page the system does not know.
    explicit Codec(int codePage);
    int CodePage() const { return codePage_; }

    // UTF-8 -> ANSI bytes; a character the code page cannot represent becomes '?'.
    std::string ToAnsi(std::string_view utf8) const;
    // ANSI bytes -> UTF-8; bytes that the code page leaves undefined become U+FFFD.
    std::string ToUtf8(std::string_view ansi) const;
    // Whether the code page defines a character for the byte (false: it decodes as U+FFFD).
    bool Defines(unsigned char byte) const { return byte < 128 || decode_[byte] != U'\uFFFD'; }
    // The byte of one character, or 63 ('?') when the code page cannot represent it.
    int CodeOf(char32_t codePoint) const;
    bool CanRepresent(std::string_view utf8) const;
    // Appends the UTF-8 form of one ANSI byte, or of ANSI text.
    void AppendUtf8(unsigned char byte, std::string& out) const;
    void AppendUtf8(std::string_view ansi, std::string& out) const;

private:
    int codePage_;
    std::array<char32_t, 256> decode_{};
    // UTF-8 form of each byte, worked out once: index files of hundreds of thousands of lines
    // are converted byte by byte.
    std::array<std::array<char, 4>, 256> utf8_{};
    std::array<unsigned char, 256> utf8Length_{};
    std::unordered_map<char32_t, unsigned char> encode_;
};

// A shared codec for a code page (built once per code page and kept).
const Codec& CodecFor(int codePage);

}  // namespace AnsiText
