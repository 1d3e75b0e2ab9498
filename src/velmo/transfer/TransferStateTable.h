#pragma once

#include "velmo/transfer/TransferState.h"

namespace velmo {

// The transitions a transfer's state may take, and the event each one
// announces. StandardTransfer::ChangeState consults it before every write, so
// a path through the state machine that the design does not allow shows up as
// a logic error instead of a transfer in a state nobody expects.
class TransferStateTable {
 public:
  // The event that announces a transition. Pause and Resume cover both the
  // initializing and the transferring pair; a completed transfer is put away
  // (Suspended) silently.
  enum class Announcement {
    None,
    Pause,
    Resume,
    InitializeComplete,
    Start,
    Complete,
    Cancel,
    Suspend,
    Restore,
  };

  // True when `from` may become `to`.
  static bool IsAllowed(TransferState from, TransferState to);
  // The event of an allowed transition; throws std::logic_error, naming both
  // states, for one that is not allowed.
  static Announcement Check(TransferState from, TransferState to);
};

}  // namespace velmo
