#include "velmo/transfer/TransferStateTable.h"

#include <stdexcept>
#include <string>

#include "velmo/transfer/TransferStatus.h"

namespace velmo {

namespace {

using Announcement = TransferStateTable::Announcement;
using S = TransferState;

struct Row {
  TransferState from;
  TransferState to;
  Announcement announcement;
};

// Every allowed transition. Invalid is never entered or left: it is only the
// snapshot of an unknown transfer. Canceled is the end.
constexpr Row kRows[] = {
    // Pause and Resume.
    {S::Initializing, S::InitializingPaused, Announcement::Pause},
    {S::InitializingPaused, S::Initializing, Announcement::Resume},
    {S::Transferring, S::TransferringPaused, Announcement::Pause},
    {S::TransferringPaused, S::Transferring, Announcement::Resume},
    // The manifests are in (OnInitialize), paused or not.
    {S::Initializing, S::Initialized, Announcement::InitializeComplete},
    {S::InitializingPaused, S::Initialized, Announcement::InitializeComplete},
    // Start with the destination folder.
    {S::Initialized, S::Transferring, Announcement::Start},
    // The whole tree succeeded with every byte in place (OnWorkComplete).
    {S::Transferring, S::Completed, Announcement::Complete},
    {S::TransferringPaused, S::Completed, Announcement::Complete},
    // Cancel from any state that is not final.
    {S::Initializing, S::Canceled, Announcement::Cancel},
    {S::InitializingPaused, S::Canceled, Announcement::Cancel},
    {S::Initialized, S::Canceled, Announcement::Cancel},
    {S::Transferring, S::Canceled, Announcement::Cancel},
    {S::TransferringPaused, S::Canceled, Announcement::Cancel},
    // Suspend from any state that is not final (a transfer restored from
    // storage is built Initializing and put straight into Suspended), and a
    // completed transfer put away without an event.
    {S::Initializing, S::Suspended, Announcement::Suspend},
    {S::InitializingPaused, S::Suspended, Announcement::Suspend},
    {S::Initialized, S::Suspended, Announcement::Suspend},
    {S::Transferring, S::Suspended, Announcement::Suspend},
    {S::TransferringPaused, S::Suspended, Announcement::Suspend},
    {S::Completed, S::Suspended, Announcement::None},
    // Restore starts the workflow again.
    {S::Suspended, S::Initializing, Announcement::Restore},
};

const Row* Find(TransferState from, TransferState to) {
  for (const Row& row : kRows) {
    if (row.from == from && row.to == to) return &row;
  }
  return nullptr;
}

}  // namespace

bool TransferStateTable::IsAllowed(TransferState from, TransferState to) {
  return Find(from, to) != nullptr;
}

TransferStateTable::Announcement TransferStateTable::Check(TransferState from, TransferState to) {
  const Row* row = Find(from, to);
  if (row == nullptr) {
    throw std::logic_error(std::string("Transfer::ChangeState called with a transition that is "
                                       "not allowed: ") +
                           StateName(from) + " -> " + StateName(to));
  }
  return row->announcement;
}

}  // namespace velmo
