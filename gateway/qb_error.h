#pragma once
// The one error type of the program. Every failure travels as a QbError
// carrying a number and a description, and is caught only by the start-up
// error routine (RunMain) or the application error routine (RunApplication).
#include <cstdint>
#include <stdexcept>
#include <string>

namespace qb {

// Error numbers. They follow the classic run-time error numbering so that an
// operator who reads an error page recognises the kind of failure.
enum ErrorNumber : std::int32_t {
  kErrInvalidArgument = 5,  // invalid procedure call or argument
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrSubscript = 9,  // subscript out of range
  kErrTypeMismatch = 13,
  kErrInternal = 51,
  kErrFileNotFound = 53,
  kErrPastEndOfFile = 62,
  kErrNoCurrentRecord = 3021,
  kErrItemNotFound = 3265,  // unknown field or parameter name
  kErrObjectClosed = 3420,  // a database object was closed twice
  kErrUrlDecode = 65001,
};

class QbError : public std::runtime_error {
 public:
  QbError(std::int32_t number, const std::string& description) : std::runtime_error(description), number_(number) {}
  std::int32_t Number() const { return number_; }
  std::string Description() const { return what(); }

 private:
  std::int32_t number_;
};

}  // namespace qb

#include <exception>

namespace qb {

// The error an error routine reports for whatever was thrown: a QbError as it
// is, running out of memory as kErrOutOfMemory, anything else as
// kErrInternal.
QbError AsQbError(std::exception_ptr error);

}  // namespace qb
