#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "velmo/file/FileException.h"
#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/telemetry/JsonWriter.h"
#include "velmo/transfer/TransferErrorData.h"
#include "velmo/transfer/TransferExceptionData.h"
#include "velmo/transfer/TransferFailureStatus.h"
#include "velmo/transfer/TransferFileExceptionData.h"

namespace velmo {
namespace {

using boost::property_tree::ptree;

template <typename E>
std::exception_ptr Captured(E e) {
  return std::make_exception_ptr(e);
}

std::string Described(const WorkStatusData& data) {
  ptree tree;
  data.Describe(tree);
  return ToJson(tree);
}

TEST(TransferErrorDataTest, DescribesCodeThenMessage) {
  const std::string message =
      "Transfer::OnWorkComplete called with error result but data is not TransferStatusData";
  auto data = MakeTransferErrorData(TransferError::UnexpectedError, message);
  EXPECT_EQ(data->ToTransferError(), TransferError::UnexpectedError);
  EXPECT_EQ(Described(*data), "{\"transferError\":\"9\",\"errorMessage\":\"" + message + "\"}\n");
  EXPECT_EQ(data->GetMessage(), "error|9|" + message);

  // Seen through its work-status base, as consumers see it.
  std::shared_ptr<WorkStatusData> base = data;
  auto* coded = dynamic_cast<TransferStatusData*>(base.get());
  ASSERT_NE(coded, nullptr);
  EXPECT_EQ(coded->ToTransferError(), TransferError::UnexpectedError);
  EXPECT_NE(dynamic_cast<WorkErrorData*>(base.get()), nullptr);
}

TEST(TransferExceptionDataTest, DescribesCodeAndTheCapturedException) {
  TransferExceptionData data(TransferError::ConnectionError, Captured(std::runtime_error("down")));
  ptree tree;
  data.Describe(tree);
  auto it = tree.begin();
  ASSERT_EQ(tree.size(), 3u);
  EXPECT_EQ(it->first, "transferError");
  EXPECT_EQ(it->second.data(), "2");
  EXPECT_EQ((++it)->first, "exception");
  EXPECT_NE(it->second.data().find("runtime_error"), std::string::npos) << it->second.data();
  EXPECT_EQ((++it)->first, "what");
  EXPECT_EQ(it->second.data(), "down");
  EXPECT_EQ(data.GetMessage().rfind("error|2|", 0), 0u);
  EXPECT_NE(data.GetMessage().find("runtime_error"), std::string::npos);
}

TEST(TransferExceptionDataTest, NonStandardAndMissingExceptions) {
  TransferExceptionData thrownInt(TransferError::UnexpectedError, Captured(42));
  EXPECT_EQ(Described(thrownInt),
            "{\"transferError\":\"9\",\"exception\":\"Unknown exception type\"}\n");
  EXPECT_EQ(thrownInt.GetMessage(), "error|9|Unknown exception type");

  TransferExceptionData empty(TransferError::OutOfMemory, nullptr);
  EXPECT_EQ(Described(empty),
            "{\"transferError\":\"3\",\"exception\":\"Unknown exception type\"}\n");
  EXPECT_EQ(empty.GetMessage(), "error|3|Unknown exception type");
}

TEST(TransferExceptionDataTest, FactoryCapturesTheExceptionBeingHandled) {
  std::shared_ptr<TransferExceptionData> data;
  try {
    throw std::logic_error("inside");
  } catch (...) {
    data = MakeTransferExceptionData(TransferError::ManifestError);
  }
  ASSERT_TRUE(data);
  EXPECT_EQ(data->ToTransferError(), TransferError::ManifestError);
  EXPECT_NE(Described(*data).find("\"what\":\"inside\""), std::string::npos);
}

TEST(TransferFileExceptionDataTest, ClassifiesByTheExceptionType) {
  const struct {
    std::exception_ptr exception;
    TransferError error;
    bool retryable;
    const char* name;
  } rows[] = {
      {Captured(FileBadPathException()), TransferError::FileAccessError, false, "bad path"},
      {Captured(FileInUseException()), TransferError::FileAccessError, true, "in use"},
      {Captured(FileInaccessibleException()), TransferError::FileAccessError, true, "no access"},
      {Captured(FileInsufficientSpaceException()), TransferError::InsufficientDiskSpace, true,
       "disk full"},
      {Captured(FileOutOfBoundsException()), TransferError::UnexpectedError, false, "bounds"},
      {Captured(FileInvalidMapException()), TransferError::FileError, false, "invalid map"},
      {Captured(FileUnknownException()), TransferError::FileError, false, "unknown file"},
      {Captured(std::bad_alloc()), TransferError::OutOfMemory, false, "memory"},
      {Captured(std::runtime_error("x")), TransferError::UnexpectedError, false, "standard"},
      {Captured(7), TransferError::UnexpectedError, false, "not standard"},
      {nullptr, TransferError::UnexpectedError, false, "none"},
  };
  for (const auto& row : rows) {
    TransferFileExceptionData data(row.exception);
    EXPECT_EQ(data.ToTransferError(), row.error) << row.name;
    EXPECT_EQ(data.IsRetryable(), row.retryable) << row.name;
  }
}

TEST(TransferFileExceptionDataTest, KeepsTheExceptionForDescriptions) {
  TransferFileExceptionData inUse(Captured(FileInUseException()));
  ptree tree;
  inUse.Describe(tree);
  EXPECT_EQ(tree.get<std::string>("transferError"), "5");
  EXPECT_NE(tree.get<std::string>("exception").find("FileInUseException"), std::string::npos);
  EXPECT_TRUE(tree.get_optional<std::string>("what"));

  TransferFileExceptionData notStandard(Captured(3.5));
  EXPECT_EQ(notStandard.GetMessage(), "error|9|Unknown exception type");
}

template <typename Make>
WorkStatus StatusOf(Make make, std::exception_ptr exception) {
  try {
    std::rethrow_exception(exception);
  } catch (...) {
    return make();
  }
}

TransferError CodeOf(const WorkStatus& status) {
  auto* coded = dynamic_cast<const TransferStatusData*>(status.data.get());
  return coded ? coded->ToTransferError() : TransferError::None;
}

TEST(TransferFailureStatusTest, FileFailuresAreRetryableOnlyWhenTheTroubleMayGoAway) {
  WorkStatus full =
      StatusOf([] { return FileFailureStatus(); }, Captured(FileInsufficientSpaceException()));
  EXPECT_EQ(full.result, WorkResult::RetryableError);
  EXPECT_EQ(CodeOf(full), TransferError::InsufficientDiskSpace);
  EXPECT_NE(dynamic_cast<const TransferFileExceptionData*>(full.data.get()), nullptr);

  WorkStatus badPath =
      StatusOf([] { return FileFailureStatus(); }, Captured(FileBadPathException()));
  EXPECT_EQ(badPath.result, WorkResult::Fatal);
  EXPECT_EQ(CodeOf(badPath), TransferError::FileAccessError);
}

TEST(TransferFailureStatusTest, ManifestFailuresInTheirOrder) {
  WorkStatus stream =
      StatusOf([] { return ManifestFailureStatus(); }, Captured(ManifestStreamException("")));
  EXPECT_EQ(stream.result, WorkResult::RetryableError);
  EXPECT_EQ(CodeOf(stream), TransferError::ConnectionError);

  for (auto e : {Captured(ManifestParseException("")), Captured(ManifestLocatorException("")),
                 Captured(ManifestOverflowException(""))}) {
    WorkStatus status = StatusOf([] { return ManifestFailureStatus(); }, e);
    EXPECT_EQ(status.result, WorkResult::Fatal);
    EXPECT_EQ(CodeOf(status), TransferError::ManifestError);
  }
  WorkStatus memory = StatusOf([] { return ManifestFailureStatus(); }, Captured(std::bad_alloc()));
  EXPECT_EQ(memory.result, WorkResult::Fatal);
  EXPECT_EQ(CodeOf(memory), TransferError::OutOfMemory);
  WorkStatus other =
      StatusOf([] { return ManifestFailureStatus(); }, Captured(std::runtime_error("r")));
  EXPECT_EQ(other.result, WorkResult::Fatal);
  EXPECT_EQ(CodeOf(other), TransferError::UnexpectedError);
}

TEST(TransferFailureStatusTest, UnexpectedFailures) {
  WorkStatus memory = StatusOf(UnexpectedFailureStatus, Captured(std::bad_alloc()));
  EXPECT_EQ(memory.result, WorkResult::Fatal);
  EXPECT_EQ(CodeOf(memory), TransferError::OutOfMemory);
  WorkStatus other = StatusOf(UnexpectedFailureStatus, Captured(FileInUseException()));
  EXPECT_EQ(other.result, WorkResult::Fatal);
  EXPECT_EQ(CodeOf(other), TransferError::UnexpectedError);
}

}  // namespace
}  // namespace velmo
