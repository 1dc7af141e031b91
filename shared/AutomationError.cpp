#include "AutomationError.h"

namespace RuntimeErrors {

std::string DescriptionOf(int32_t number) {
    switch (number) {
    case InvalidProcedureCall: return "Invalid procedure call or argument";
    case Overflow: return "Overflow";
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

void Raise(int32_t number, const std::string& detail) {
    std::string text = DescriptionOf(number);
    if (!detail.empty()) text += ": " + detail;
    throw AutomationError(number, "RavekVoice", text);
}

}  // namespace RuntimeErrors
