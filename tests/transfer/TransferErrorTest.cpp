#include <gtest/gtest.h>

#include "velmo/transfer/TransferError.h"

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
