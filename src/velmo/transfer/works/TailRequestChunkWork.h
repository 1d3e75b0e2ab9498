#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "velmo/transfer/TransferWork.h"
#include "velmo/transfer/works/TailRequestTracker.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

class HttpRequest;
class NodeListManifest;
class NodeManifest;
class TransferSharedMapData;

// Requests stragglers again on a free request slot: the last step of every
// chunk's pipeline (on the slot the chunk just freed), and an extra child of
// the file's chunks when a chunk's request begins the download's tail (see
// TailRequestTracker::Started), since every other chunk may have ended by
// then. In the tail (every chunk not yet verified is being requested) it
// requests the chunk expected to finish last again, from another node;
// before the tail, only a chunk whose request has stalled (see
// TailRequestTracker::TakeStraggler). The copy verified first is written and
// the other request is cancelled. It goes on with the next straggler while
// there is one: its slot is free again. It never fails: a second request
// that stalls (receives nothing for as long as a stalled request, see
// TailRequestTracker::StallMs) or fails is replaced by one from a node not
// yet tried for the chunk, never beside it; if none is left, the first one
// is left to finish. The bytes received by
// losing requests are counted as wasted, in the work log ("wastedBytes") and
// in the tracker.
class TailRequestChunkWork : public TransferWork, public SimpleWork {
 public:
  // `aboveBound` for the one started beside the file's chunks: every slot may
  // be held by a request to a stalling node, and the stalled last chunk must
  // be requested again at once, not when a slot frees.
  TailRequestChunkWork(std::shared_ptr<TransferWorkInterface> workInterface,
                       std::shared_ptr<TransferSharedMapData> chunk, bool aboveBound = false);
  void Describe(boost::property_tree::ptree& out) const override;
  bool RunsAboveBound() const override { return aboveBound_; }
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override;

 private:
  // One second request, of the straggler the tracker gives; false when there
  // is none (or no second node, or the work is interrupted).
  bool RequestStraggler();
  // One copy of the straggler from a node not in `tried` (which it joins),
  // registered as the chunk's second request in `request`; true when it
  // stalled or failed and the chunk is still not verified, so that another
  // copy should take its place.
  bool RequestCopy(TailRequestTracker& tail, const TailRequestTracker::Straggler& straggler,
                   const std::shared_ptr<NodeListManifest>& nodeList,
                   std::vector<std::shared_ptr<NodeManifest>>& tried,
                   std::shared_ptr<HttpRequest>& request);

  std::shared_ptr<TransferSharedMapData> chunk_;  // the chunk whose slot this is
  const bool aboveBound_;
  mutable std::mutex mutex_;
  std::shared_ptr<HttpRequest> request_;           // guarded by mutex_
  std::shared_ptr<TransferSharedMapData> target_;  // the latest straggler; guarded by mutex_
  std::uint32_t tailRequests_ = 0;                 // guarded by mutex_
  std::uint32_t won_ = 0;                          // guarded by mutex_
  std::uint64_t wastedBytes_ = 0;                  // guarded by mutex_
};

}  // namespace velmo
