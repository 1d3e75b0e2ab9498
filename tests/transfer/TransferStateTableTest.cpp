// The table of allowed transitions, checked against the state machine as
// designed: written out here pair by pair rather than derived from the table.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <utility>

#include "velmo/transfer/TransferStateTable.h"
#include "velmo/transfer/TransferStatus.h"

namespace velmo {
namespace {

using S = TransferState;
using Announcement = TransferStateTable::Announcement;

const S kAll[] = {S::Invalid,     S::Initializing, S::InitializingPaused,
                  S::Initialized, S::Transferring, S::TransferringPaused,
                  S::Suspended,   S::Completed,    S::Canceled};

struct Expected {
  S from;
  S to;
  Announcement announcement;
};

// The designed transitions and the event each announces.
const Expected kDesigned[] = {
    {S::Initializing, S::InitializingPaused, Announcement::Pause},
    {S::InitializingPaused, S::Initializing, Announcement::Resume},
    {S::Initializing, S::Initialized, Announcement::InitializeComplete},
    {S::InitializingPaused, S::Initialized, Announcement::InitializeComplete},
    {S::Initialized, S::Transferring, Announcement::Start},
    {S::Transferring, S::TransferringPaused, Announcement::Pause},
    {S::TransferringPaused, S::Transferring, Announcement::Resume},
    {S::Transferring, S::Completed, Announcement::Complete},
    {S::TransferringPaused, S::Completed, Announcement::Complete},
    {S::Initializing, S::Canceled, Announcement::Cancel},
    {S::InitializingPaused, S::Canceled, Announcement::Cancel},
    {S::Initialized, S::Canceled, Announcement::Cancel},
    {S::Transferring, S::Canceled, Announcement::Cancel},
    {S::TransferringPaused, S::Canceled, Announcement::Cancel},
    {S::Initializing, S::Suspended, Announcement::Suspend},
    {S::InitializingPaused, S::Suspended, Announcement::Suspend},
    {S::Initialized, S::Suspended, Announcement::Suspend},
    {S::Transferring, S::Suspended, Announcement::Suspend},
    {S::TransferringPaused, S::Suspended, Announcement::Suspend},
    {S::Completed, S::Suspended, Announcement::None},
    {S::Suspended, S::Initializing, Announcement::Restore},
};

TEST(TransferStateTableTest, EveryDesignedTransitionIsAllowedWithItsEvent) {
  for (const Expected& row : kDesigned) {
    SCOPED_TRACE(std::string(StateName(row.from)) + " -> " + StateName(row.to));
    EXPECT_TRUE(TransferStateTable::IsAllowed(row.from, row.to));
    EXPECT_EQ(TransferStateTable::Check(row.from, row.to), row.announcement);
  }
}

TEST(TransferStateTableTest, EveryOtherPairIsRefused) {
  std::set<std::pair<S, S>> designed;
  for (const Expected& row : kDesigned) designed.insert({row.from, row.to});
  int refused = 0;
  for (S from : kAll) {
    for (S to : kAll) {
      if (designed.count({from, to}) != 0) continue;
      SCOPED_TRACE(std::string(StateName(from)) + " -> " + StateName(to));
      EXPECT_FALSE(TransferStateTable::IsAllowed(from, to));
      EXPECT_THROW(TransferStateTable::Check(from, to), std::logic_error);
      ++refused;
    }
  }
  EXPECT_EQ(refused, 9 * 9 - static_cast<int>(std::size(kDesigned)));
}

TEST(TransferStateTableTest, RefusalsTheStateMachineReliesOn) {
  // Pause is refused once the manifests are in; a canceled transfer stays
  // canceled; a suspended one only comes back through Restore; nothing enters
  // or leaves Invalid; staying in a state is not a transition.
  EXPECT_FALSE(TransferStateTable::IsAllowed(S::Initialized, S::InitializingPaused));
  EXPECT_FALSE(TransferStateTable::IsAllowed(S::Initialized, S::TransferringPaused));
  EXPECT_FALSE(TransferStateTable::IsAllowed(S::Canceled, S::Suspended));
  EXPECT_FALSE(TransferStateTable::IsAllowed(S::Canceled, S::Initializing));
  EXPECT_FALSE(TransferStateTable::IsAllowed(S::Suspended, S::Transferring));
  EXPECT_FALSE(TransferStateTable::IsAllowed(S::Suspended, S::Canceled));
  EXPECT_FALSE(TransferStateTable::IsAllowed(S::Completed, S::Canceled));
  EXPECT_FALSE(TransferStateTable::IsAllowed(S::Initializing, S::Completed));
  EXPECT_FALSE(TransferStateTable::IsAllowed(S::Invalid, S::Initializing));
  EXPECT_FALSE(TransferStateTable::IsAllowed(S::Transferring, S::Invalid));
  EXPECT_FALSE(TransferStateTable::IsAllowed(S::Transferring, S::Transferring));
}

TEST(TransferStateTableTest, ARefusalNamesBothStates) {
  try {
    TransferStateTable::Check(S::Canceled, S::Transferring);
    FAIL() << "Canceled -> Transferring was accepted";
  } catch (const std::logic_error& error) {
    EXPECT_NE(std::string(error.what()).find("Canceled -> Transferring"), std::string::npos)
        << error.what();
  }
}

}  // namespace
}  // namespace velmo
