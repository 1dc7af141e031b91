#pragma once
// The file a fuzz target writes each input to, for parsers that read files: made under $TMPDIR
// (or /tmp) on first use and removed when the program ends.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

class FuzzScratchFile {
public:
    explicit FuzzScratchFile(const std::string& stem) {
        const char* tmp = std::getenv("TMPDIR");
        const std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + stem + "-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = ::mkstemp(name.data());
        if (fd < 0) throw std::runtime_error("cannot create " + pattern);
        ::close(fd);
        path_ = name.data();
    }
    ~FuzzScratchFile() { ::unlink(path_.c_str()); }
    FuzzScratchFile(const FuzzScratchFile&) = delete;
    FuzzScratchFile& operator=(const FuzzScratchFile&) = delete;

    // Replaces the file's content with the input; returns its path.
    const std::string& Write(const uint8_t* data, size_t size) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        return path_;
    }

private:
    std::string path_;
};
