#pragma once
// The error every public engine operation reports to its client: a number, the procedure that
// raised it and a description. Run-time failures use the classic automation numbers so clients
// can tell them apart (5 invalid argument, 9 subscript out of range, 13 type mismatch, ...).
#include <cstdint>
#include <stdexcept>
#include <string>

class AutomationError : public std::runtime_error {
public:
    AutomationError(int32_t number, std::string source, std::string description)
        : std::runtime_error(description), number_(number), source_(std::move(source)),
          description_(std::move(description)) {}

    int32_t Number() const { return number_; }
    const std::string& Source() const { return source_; }
    const std::string& Description() const { return description_; }

private:
    int32_t number_;
    std::string source_;
    std::string description_;
};

// Standard run-time error numbers and their texts.
namespace RuntimeErrors {
constexpr int32_t InvalidProcedureCall = 5;
constexpr int32_t Overflow = 6;
constexpr int32_t OutOfMemory = 7;
constexpr int32_t SubscriptOutOfRange = 9;
constexpr int32_t TypeMismatch = 13;
constexpr int32_t BadFileNameOrNumber = 52;
constexpr int32_t FileNotFound = 53;
constexpr int32_t InputPastEndOfFile = 62;
constexpr int32_t PermissionDenied = 70;
constexpr int32_t PathFileAccessError = 75;
constexpr int32_t PathNotFound = 76;
constexpr int32_t KeyAlreadyAssociated = 457;

// The description that goes with a run-time error number ("Subscript out of range", ...).
std::string DescriptionOf(int32_t number);

// The automation error that matches a C++ exception raised inside the system (an AutomationError
// stays as it is; out of memory is 7, a file-system failure 53/76/70/75, anything else 5).
AutomationError FromException(const std::exception& e, const std::string& source);

// An AutomationError with the standard description; `detail`, when given, is appended after ": "
// so that the message names the file or value at fault.
[[noreturn]] void Raise(int32_t number, const std::string& detail = {});
}  // namespace RuntimeErrors
