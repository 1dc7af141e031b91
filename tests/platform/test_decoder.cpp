// The MP3 decoder: a LAME-encoded tone comes back as a WAVE file of exactly the original length.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CbMpegAudioDecoder.h"
#include "Installation.h"
#include "mMADLIB.h"

namespace fs = std::filesystem;

namespace {

class DecoderTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // A sine tone of about `frames` samples per channel, encoded by LAME (with its gapless tag).
    // The source WAVE is kept as name + ".src.wav": its length is the length to expect back.
    std::string MakeMp3(const std::string& name, int rate, int channels, int frames) {
        std::string mp3 = Path(name), wav = mp3 + ".src.wav";
        std::string cmd = "sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 '" + wav +
                          "' synth " + std::to_string(static_cast<double>(frames) / rate) + " sine 440 vol 0.5 2>/dev/null && lame --quiet '" +
                          wav + "' '" + mp3 + "'";
        if (std::system(cmd.c_str()) != 0) return {};
        return mp3;
    }

    // Number of regular files in the folder.
    size_t FileCount() const {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(dir_)) n += e.is_regular_file();
        return n;
    }

    ravektest::TempFolder temp_;
    std::string dir_ = temp_.Path().string();
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

uint32_t Le(const std::string& bytes, size_t at, int size) {
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return v;
}

struct Wave {
    uint32_t channels, rate, byteRate, blockAlign, bits, dataBytes;
};

Wave ParseCanonicalWave(const std::string& b) {
    EXPECT_GE(b.size(), 44u);
    if (b.size() < 44) return {};
    EXPECT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(Le(b, 4, 4), b.size() - 8);
    EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(Le(b, 16, 4), 16u);
    EXPECT_EQ(Le(b, 20, 2), 1u);  // PCM
    EXPECT_EQ(b.substr(36, 4), "data");
    Wave w{Le(b, 22, 2), Le(b, 24, 4), Le(b, 28, 4), Le(b, 32, 2), Le(b, 34, 2), Le(b, 40, 4)};
    EXPECT_EQ(w.dataBytes, b.size() - 44);
    return w;
}

}  // namespace

TEST_F(DecoderTest, MonoToneKeepsRateChannelsAndExactLength) {
    std::string mp3 = MakeMp3("tone.mp3", 44100, 1, 22050);
    if (mp3.empty()) GTEST_SKIP() << "sox or lame not available";
    std::array<char, kDecoderStatusSize> status{};
    ASSERT_EQ(CbMpegAudioDecoder(mp3.c_str(), Path("tone.wav").c_str(), status.data()), 0) << status.data();
    EXPECT_NE(std::string(status.data()), "");
    Wave w = ParseCanonicalWave(ReadAll(Path("tone.wav")));
    EXPECT_EQ(w.channels, 1u);
    EXPECT_EQ(w.rate, 44100u);
    EXPECT_EQ(w.bits, 16u);
    EXPECT_EQ(w.blockAlign, 2u);
    EXPECT_EQ(w.byteRate, 88200u);
    Wave source = ParseCanonicalWave(ReadAll(mp3 + ".src.wav"));
    EXPECT_EQ(source.dataBytes / 2, 22050u);
    EXPECT_EQ(w.dataBytes, source.dataBytes);  // encoder delay and padding trimmed
}

TEST_F(DecoderTest, StereoAtLowerRateKeepsExactLength) {
    std::string mp3 = MakeMp3("st.mp3", 22050, 2, 7001);
    if (mp3.empty()) GTEST_SKIP() << "sox or lame not available";
    mMADLIB::ConvertMp3ToWav(mp3, Path("st.wav"));
    Wave w = ParseCanonicalWave(ReadAll(Path("st.wav")));
    EXPECT_EQ(w.channels, 2u);
    EXPECT_EQ(w.rate, 22050u);
    EXPECT_EQ(w.blockAlign, 4u);
    Wave source = ParseCanonicalWave(ReadAll(mp3 + ".src.wav"));
    EXPECT_EQ(w.dataBytes, source.dataBytes);
    EXPECT_NEAR(w.dataBytes / w.blockAlign, 7001u, 1);
}

TEST_F(DecoderTest, ExistingOutputIsReplaced) {
    std::string mp3 = MakeMp3("r.mp3", 44100, 1, 1000);
    if (mp3.empty()) GTEST_SKIP() << "sox or lame not available";
    std::ofstream(Path("r.wav")) << "old content that is not a wave file";
    ASSERT_EQ(CbMpegAudioDecoder(mp3.c_str(), Path("r.wav").c_str(), nullptr), 0);
    EXPECT_EQ(ParseCanonicalWave(ReadAll(Path("r.wav"))).dataBytes, ParseCanonicalWave(ReadAll(mp3 + ".src.wav")).dataBytes);
}

TEST_F(DecoderTest, BadInputFailsAndLeavesNoOutput) {
    std::ofstream(Path("empty.mp3")).close();
    std::ofstream(Path("text.mp3")) << std::string(5000, 'x') << "this is not MPEG audio at all\n";
    struct Case {
        std::string input;
        int32_t expected;
    };
    for (const Case& c : {Case{Path("missing.mp3"), 1}, Case{Path("empty.mp3"), 2}, Case{Path("text.mp3"), 2},
                          Case{dir_, 1}}) {
        std::array<char, kDecoderStatusSize> status{};
        EXPECT_EQ(CbMpegAudioDecoder(c.input.c_str(), Path("out.wav").c_str(), status.data()), c.expected) << c.input;
        EXPECT_NE(std::string(status.data()), "") << c.input;
        EXPECT_FALSE(fs::exists(Path("out.wav"))) << c.input;
    }
    EXPECT_EQ(FileCount(), 2u);  // no temporary files left behind
    mMADLIB::ConvertMp3ToWav(Path("text.mp3"), Path("out.wav"));
    EXPECT_FALSE(fs::exists(Path("out.wav")));
}

TEST_F(DecoderTest, UnwritableOutputFailsCleanly) {
    std::string mp3 = MakeMp3("u.mp3", 44100, 1, 2000);
    if (mp3.empty()) GTEST_SKIP() << "sox or lame not available";
    std::array<char, kDecoderStatusSize> status{};
    EXPECT_EQ(CbMpegAudioDecoder(mp3.c_str(), Path("no/such/folder/u.wav").c_str(), status.data()), 3);
    EXPECT_NE(std::string(status.data()).find("no/such/folder/u.wav"), std::string::npos) << status.data();
    EXPECT_EQ(CbMpegAudioDecoder(mp3.c_str(), "", status.data()), 1);
    EXPECT_EQ(CbMpegAudioDecoder(nullptr, Path("x.wav").c_str(), nullptr), 1);
    EXPECT_FALSE(fs::exists(Path("x.wav")));
}

TEST_F(DecoderTest, TruncatedMp3DecodesWhatItHolds) {
    std::string mp3 = MakeMp3("t.mp3", 44100, 1, 44100);
    if (mp3.empty()) GTEST_SKIP() << "sox or lame not available";
    std::string bytes = ReadAll(mp3);
    std::ofstream(Path("half.mp3"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    ASSERT_EQ(CbMpegAudioDecoder(Path("half.mp3").c_str(), Path("half.wav").c_str(), nullptr), 0);
    Wave w = ParseCanonicalWave(ReadAll(Path("half.wav")));
    EXPECT_GT(w.dataBytes / 2, 10000u);
    EXPECT_LT(w.dataBytes / 2, 44100u);
}

TEST_F(DecoderTest, LongStatusIsCutToTheBuffer) {
    std::string longName = Path(std::string(200, 'n') + "/" + std::string(200, 'm') + "/" + std::string(200, 'o') + ".mp3");
    std::array<char, kDecoderStatusSize + 8> status;
    status.fill('#');
    EXPECT_EQ(CbMpegAudioDecoder(longName.c_str(), Path("o.wav").c_str(), status.data()), 1);
    EXPECT_EQ(status[kDecoderStatusSize - 1], '\0');
    EXPECT_EQ(status[kDecoderStatusSize], '#');
}
