// What the works hand up, read back the way the transfer reads it.
#include <gtest/gtest.h>

#include <stdexcept>

#include "velmo/manifest/StandardNodeListManifest.h"
#include "velmo/manifest/StandardPackageManifest.h"
#include "velmo/transfer/TransferErrorData.h"
#include "velmo/transfer/TransferOutcome.h"

namespace velmo {
namespace {

TEST(TransferOutcomeTest, EachManifestIsReadOnlyFromItsOwnOutcome) {
  auto package = std::make_shared<StandardPackageManifest>();
  auto nodes = std::make_shared<StandardNodeListManifest>();

  const WorkStatus acquiredPackage = TransferOutcome::PackageAcquired(package);
  EXPECT_EQ(acquiredPackage.result, WorkResult::Success);
  EXPECT_EQ(TransferOutcome::Package(acquiredPackage), package);
  EXPECT_EQ(TransferOutcome::NodeList(acquiredPackage), nullptr);
  EXPECT_EQ(TransferOutcome::Failure(acquiredPackage), nullptr);

  const WorkStatus acquiredNodes = TransferOutcome::NodeListAcquired(nodes);
  EXPECT_EQ(acquiredNodes.result, WorkResult::Success);
  EXPECT_EQ(TransferOutcome::NodeList(acquiredNodes), nodes);
  EXPECT_EQ(TransferOutcome::Package(acquiredNodes), nullptr);

  // An outcome that holds no manifest reads as none.
  EXPECT_EQ(TransferOutcome::Package(TransferOutcome::PackageAcquired(nullptr)), nullptr);
  EXPECT_EQ(TransferOutcome::Package(WorkStatus(WorkResult::Success)), nullptr);
}

TEST(TransferOutcomeTest, FailuresCarryTheirCodeOnlyInTransferPayloads) {
  const WorkStatus typed(WorkResult::Fatal,
                         MakeTransferErrorData(TransferError::FileError, "disk gone"));
  const auto failure = TransferOutcome::Failure(typed);
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->ToTransferError(), TransferError::FileError);
  EXPECT_EQ(failure->GetCause(), "disk gone");

  // The framework's own payloads carry no transfer error.
  EXPECT_EQ(TransferOutcome::Failure(
                WorkStatus(WorkResult::Error, std::make_shared<WorkErrorData>("plain"))),
            nullptr);
  EXPECT_EQ(TransferOutcome::Failure(WorkStatus(WorkResult::Fatal)), nullptr);
}

TEST(TransferOutcomeTest, AnEscapedExceptionIsFoundOnlyInTheFrameworksOwnPayload) {
  const WorkStatus escaped(
      WorkResult::Fatal,
      std::make_shared<WorkExceptionData>(std::make_exception_ptr(std::runtime_error("boom"))));
  const auto thrown = TransferOutcome::EscapedException(escaped);
  ASSERT_NE(thrown, nullptr);
  EXPECT_THROW(thrown->Rethrow(), std::runtime_error);
  EXPECT_EQ(TransferOutcome::Failure(escaped), nullptr);

  EXPECT_EQ(TransferOutcome::EscapedException(
                WorkStatus(WorkResult::Error, std::make_shared<WorkErrorData>("plain"))),
            nullptr);
  EXPECT_EQ(TransferOutcome::EscapedException(WorkStatus(WorkResult::Fatal)), nullptr);
}

}  // namespace
}  // namespace velmo
