#pragma once
// Reads a whole settings file without ever blocking: the file is opened non-blocking and must be
// a regular file, so a FIFO, a device or a folder at a settings path cannot stall start-up.
#include <filesystem>
#include <string>

namespace RegularFile {

enum class Status {
    Read,        // `Bytes` holds the file
    Missing,     // nothing at that path
    NotRegular,  // a folder, FIFO, device or socket
    Unreadable,  // a regular file that cannot be opened or read (`Reason` says why)
};

struct Contents {
    Status State = Status::Missing;
    std::string Bytes;
    std::string Reason;  // the system's message when not Read
};

Contents Read(const std::filesystem::path& file);

}  // namespace RegularFile
