#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>

#include "velmo/file/FileException.h"
#include "velmo/http/HttpRequestStatus.h"
#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/transfer/TransferError.h"
#include "velmo/transfer/TransferErrorData.h"
#include "velmo/transfer/TransferExceptionData.h"
#include "velmo/transfer/TransferFailureStatus.h"
#include "velmo/transfer/TransferStatus.h"
#include "velmo/transfer/works/HttpTransferStatusData.h"

namespace velmo {
namespace {

TEST(TransferErrorTest, HttpResultsMapByTheTable) {
  struct Row {
    unsigned result;
    TransferError error;
  };
  const Row rows[] = {
      {0, TransferError::UnexpectedError},
      {1, TransferError::UnexpectedError},
      {2, TransferError::None},
      {3, TransferError::None},
      {4, TransferError::RequestError},
      {5, TransferError::ConnectionError},
      {6, TransferError::ConnectionError},
      {7, TransferError::ConnectionError},
      {8, TransferError::ConnectionError},
      {9, TransferError::ConnectionError},
      {10, TransferError::FileError},
      {11, TransferError::ConnectionError},
      {12, TransferError::ConnectionError},
      {13, TransferError::OutOfMemory},
      {14, TransferError::RequestError},
      {15, TransferError::UnexpectedError},
      {255, TransferError::UnexpectedError},
      {100000, TransferError::UnexpectedError},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(TransferErrorFromHttpResult(row.result), row.error) << "HTTP result " << row.result;
  }
}

TEST(TransferErrorTest, WrittenAsDecimal) {
  EXPECT_EQ(ToString(TransferError::None), "0");
  EXPECT_EQ(ToString(TransferError::UnexpectedError), "9");
}

}  // namespace
}  // namespace velmo

namespace velmo {
namespace {

std::string CauseOf(const WorkStatus& status) {
  const auto data = std::dynamic_pointer_cast<TransferStatusData>(status.data);
  return data ? data->GetCause() : std::string("(no transfer data)");
}

TEST(TransferErrorCauseTest, ManifestFailuresLeadWithTheDocumentAndKeepTheServersAnswer) {
  WorkStatus refused;
  try {
    throw ManifestLocatorException("libcurl error 22 (HTTP 403)");
  } catch (...) {
    refused = ManifestFailureStatus("node list http://h:1/nodes/p.xml");
  }
  EXPECT_EQ(refused.result, WorkResult::Fatal);
  // libcurl's own words for the code follow the code.
  EXPECT_EQ(CauseOf(refused), "node list http://h:1/nodes/p.xml: libcurl error 22 (HTTP 403): " +
                                  std::string(curl_easy_strerror(CURLE_HTTP_RETURNED_ERROR)));

  WorkStatus unreachable;
  try {
    throw ManifestStreamException("libcurl error 7 (HTTP 0)");
  } catch (...) {
    unreachable = ManifestFailureStatus("package manifest http://h:1/manifests/g/current.xml");
  }
  EXPECT_EQ(unreachable.result, WorkResult::RetryableError);
  EXPECT_NE(CauseOf(unreachable).find(curl_easy_strerror(CURLE_COULDNT_CONNECT)), std::string::npos)
      << CauseOf(unreachable);

  WorkStatus mismatch;
  try {
    throw ManifestLocatorException();
  } catch (...) {
    mismatch = ManifestFailureStatus("package manifest u");
  }
  EXPECT_EQ(CauseOf(mismatch), "package manifest u: not there, or not the document asked for");
}

TEST(TransferErrorCauseTest, FileFailuresNameThePathAndTheSystemsMessage) {
  WorkStatus denied;
  try {
    ThrowFileError(EACCES);
  } catch (...) {
    denied = FileFailureStatus("/dest/a.bin");
  }
  EXPECT_EQ(CauseOf(denied), "/dest/a.bin: " + std::system_category().message(EACCES));

  WorkStatus full;
  try {
    ThrowFileError(ENOSPC);
  } catch (...) {
    full = FileFailureStatus("/dest/b.bin");
  }
  EXPECT_EQ(std::dynamic_pointer_cast<TransferStatusData>(full.data)->ToTransferError(),
            TransferError::InsufficientDiskSpace);
  EXPECT_EQ(CauseOf(full), "/dest/b.bin: " + std::system_category().message(ENOSPC));

  // Without a system call behind it the kind of failure speaks.
  WorkStatus inUse;
  try {
    throw FileInUseException();
  } catch (...) {
    inUse = FileFailureStatus();
  }
  EXPECT_EQ(CauseOf(inUse), "file in use");
}

TEST(TransferErrorCauseTest, OtherPayloadsSayWhatHappened) {
  EXPECT_EQ(MakeTransferErrorData(TransferError::UnexpectedError, "no shared map")->GetCause(),
            "no shared map");

  HttpRequestStatus failed(HttpRequestResult::ServerError, 0);
  failed.responseCode = 503;
  EXPECT_EQ(HttpTransferStatusData("n1:80", failed, 5).GetCause(), "node n1:80: HTTP 503");
  failed.errorMessage = "libcurl error 22 (HTTP 503)";
  EXPECT_EQ(HttpTransferStatusData("n1:80", failed, 5).GetCause(),
            "node n1:80: libcurl error 22 (HTTP 503): " +
                std::string(curl_easy_strerror(CURLE_HTTP_RETURNED_ERROR)));

  EXPECT_EQ(ExplainRequestError("libcurl error x"), "libcurl error x");
  EXPECT_EQ(ExplainRequestError("short read"), "short read");
}

TEST(TransferErrorCauseTest, ErrorsAndStatesHaveNames) {
  EXPECT_STREQ(ErrorName(TransferError::ManifestError), "ManifestError");
  EXPECT_STREQ(ErrorName(TransferError::UnexpectedError), "UnexpectedError");
  EXPECT_STREQ(ErrorName(static_cast<TransferError>(200)), "UnknownError");
  EXPECT_STREQ(StateName(TransferState::TransferringPaused), "TransferringPaused");
  EXPECT_STREQ(StateName(TransferState::Canceled), "Canceled");
  EXPECT_STREQ(StateName(static_cast<TransferState>(99)), "UnknownState");
}

TEST(TransferErrorCauseTest, DiagnosticLinesArePositional) {
  EXPECT_EQ(FormatErrorDiagnostic(TransferError::ChecksumMismatch, {}), "error|6");
  EXPECT_EQ(FormatErrorDiagnostic(TransferError::ConnectionError, {"8", "libcurl error 7"}),
            "error|2|8|libcurl error 7");
  // An empty field keeps its place, so the fields after it keep theirs.
  EXPECT_EQ(FormatErrorDiagnostic(TransferError::UnexpectedError, {"", "x"}), "error|9||x");
}

}  // namespace
}  // namespace velmo
