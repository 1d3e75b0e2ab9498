#pragma once

// The one small code with which every failure inside a transfer reaches the
// transfer, the user and the analytics. Written into trees and messages as a
// decimal integer.

#include <cstdint>
#include <initializer_list>
#include <string>

namespace velmo {

enum class TransferError : std::uint8_t {
  None = 0,
  ManifestError = 1,          // a manifest was fetched but is invalid or not the one asked for
  ConnectionError = 2,        // the network or a server was unreachable or misbehaved
  OutOfMemory = 3,            // memory exhausted
  InsufficientDiskSpace = 4,  // the destination disk is full
  FileAccessError = 5,        // bad path, file in use, or no access
  ChecksumMismatch = 6,       // a downloaded chunk failed its CRC-32
  FileError = 7,              // any other file failure
  RequestError = 8,           // an invalid request, or an unrecognised HTTP failure
  UnexpectedError = 9,        // internal inconsistencies and unrecognised exceptions
};

// The decimal text of the code ("9" for UnexpectedError).
std::string ToString(TransferError error);

// The positional diagnostic line of a failure, as the work log and the
// analytics carry it: "error|<code>|<field>|<field>...". Fields are written as
// given; the readers split on '|', so a field's meaning is its position.
std::string FormatErrorDiagnostic(TransferError error, std::initializer_list<std::string> fields);

// The code of an HTTP request outcome, given as the numeric value of an
// HttpRequestResult (0 to 14). Values outside that range are UnexpectedError.
TransferError TransferErrorFromHttpResult(unsigned httpResult);

}  // namespace velmo
