// The one failure type of the program: a run-time error that carries its number.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace p2 {

// Numbers the program and its ports raise themselves. The database engine adds its own
// (see ports/Database.h).
enum ErrorNumber : int32_t {
    kErrInvalidArgument = 5,
    kErrOverflow = 6,
    kErrOutOfMemory = 7,
    kErrTypeMismatch = 13,
    kErrInternal = 51,
    kErrFileNotFound = 53,
    kErrFileAlreadyOpen = 55,
    kErrFileAlreadyExists = 58,
    kErrPermissionDenied = 70,
    kErrPathFileAccess = 75,
    kErrPathNotFound = 76,
    kErrCannotCreateObject = 429,
    kErrObjectRequired = 424,
    kErrNoSuchProperty = 438,
    kErrActionNotSupported = 445,
};

class AppError : public std::exception {
  public:
    explicit AppError(int32_t number) : number_(number) {}
    int32_t number() const noexcept { return number_; }
    const char* what() const noexcept override { return "run-time error"; }

  private:
    int32_t number_;
};

// The number a standard-library failure stands for, so that no exception escapes the
// handlers unreported.
int32_t ErrorNumberOf(const std::exception& e) noexcept;

}  // namespace p2
