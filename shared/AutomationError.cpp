#include "AutomationError.h"

#include <filesystem>
#include <new>
#include <system_error>

namespace RuntimeErrors {

std::string DescriptionOf(int32_t number) {
    switch (number) {
    case InvalidProcedureCall: return "Invalid procedure call or argument";
    case Overflow: return "Overflow";
    case OutOfMemory: return "Out of memory";
    case SubscriptOutOfRange: return "Subscript out of range";
    case TypeMismatch: return "Type mismatch";
    case BadFileNameOrNumber: return "Bad file name or number";
    case FileNotFound: return "File not found";
    case InputPastEndOfFile: return "Input past end of file";
    case PermissionDenied: return "Permission denied";
    case PathFileAccessError: return "Path/File access error";
    case PathNotFound: return "Path not found";
    case KeyAlreadyAssociated: return "This key is already associated with an element of this collection";
    default: return "Application-defined or object-defined error";
    }
}

AutomationError FromException(const std::exception& e, const std::string& source) {
    if (const auto* automation = dynamic_cast<const AutomationError*>(&e)) return *automation;
    if (dynamic_cast<const std::bad_alloc*>(&e)) return AutomationError(OutOfMemory, source, DescriptionOf(OutOfMemory));
    if (const auto* fsError = dynamic_cast<const std::filesystem::filesystem_error*>(&e)) {
        int32_t number = PathFileAccessError;
        if (fsError->code() == std::errc::no_such_file_or_directory)
            number = fsError->path1().has_filename() ? FileNotFound : PathNotFound;
        else if (fsError->code() == std::errc::permission_denied)
            number = PermissionDenied;
        return AutomationError(number, source, DescriptionOf(number) + ": " + fsError->what());
    }
    return AutomationError(InvalidProcedureCall, source, DescriptionOf(InvalidProcedureCall) + ": " + e.what());
}

void Raise(int32_t number, const std::string& detail) {
    std::string text = DescriptionOf(number);
    if (!detail.empty()) text += ": " + detail;
    throw AutomationError(number, "RavekVoice", text);
}

}  // namespace RuntimeErrors
