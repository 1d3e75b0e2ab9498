#pragma once

// The statuses with which transfer works report an exception they caught. Each
// captures the exception currently being handled, so call them only inside a
// catch block. Keeping the rules here keeps the whole mapping of exceptions to
// TransferError codes in one place.

#include <string>

#include "velmo/work/WorkStatus.h"

namespace velmo {

// A work that touches files: RetryableError for a file in use, an inaccessible
// file or a full disk, else Fatal; the payload is a TransferFileExceptionData.
// `path` (the file's, when known) leads the cause.
WorkStatus FileFailureStatus(const std::string& path = std::string());

// A work that gets a manifest: a ManifestStreamException (server unreachable or
// answering badly) is RetryableError/ConnectionError; any other
// ManifestException Fatal/ManifestError; memory exhaustion Fatal/OutOfMemory;
// anything else Fatal/UnexpectedError. The payload is a TransferExceptionData.
// `url` (the document's, when known) leads the cause.
WorkStatus ManifestFailureStatus(const std::string& url = std::string());

// Any other work: Fatal with OutOfMemory for memory exhaustion, else
// UnexpectedError, in a TransferExceptionData.
WorkStatus UnexpectedFailureStatus();

}  // namespace velmo
