#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace RegularFile {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

Contents Failed(Status state, int error) { return Contents{state, {}, std::strerror(error)}; }

}  // namespace

Contents Read(const std::filesystem::path& file) {
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        const int error = errno;
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0) return Failed(Status::Missing, error);
        return Failed(S_ISREG(info.st_mode) ? Status::Unreadable : Status::NotRegular, error);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return Failed(Status::Unreadable, errno);
    if (!S_ISREG(info.st_mode)) return Contents{Status::NotRegular, {}, "not a regular file"};
    Contents result{Status::Read, {}, {}};
    char buffer[65536];
    while (true) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Failed(Status::Unreadable, errno);
        if (n == 0) return result;
        result.Bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace RegularFile
