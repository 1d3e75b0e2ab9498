#include "NodeSimulation.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <stdexcept>

#include "velmo/manifest/StandardNodeManifest.h"

namespace velmo {
namespace {

// One chunk: its request record persists across attempts, as the chunk
// work's does, and with it the rotation of nodes not tried yet.
struct Chunk {
  std::uint32_t index = 0;
  std::uint32_t attempts = 0;
  OptimizedRequestParams params;
};

struct Request {
  std::shared_ptr<Chunk> chunk;
  std::size_t node = 0;
  double start = 0.0;
  double remaining = 0.0;
};

}  // namespace

NodeSimulation::NodeSimulation(std::vector<SimulatedNode> nodes, std::uint32_t slots,
                               std::uint64_t chunkBytes, std::uint32_t seed)
    : nodes_(std::move(nodes)), slots_(slots), chunkBytes_(chunkBytes) {
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    boost::property_tree::ptree tree;
    tree.put("NodeId", "n" + std::to_string(i + 1));
    tree.put("Host", nodes_[i].host);
    tree.put("Weight", 1);
    manifests_.push_back(std::make_shared<StandardNodeManifest>(tree));
  }
  EngineSettings settings(8);
  settings.transferThreadCount = slots;
  optimizer_ = std::make_unique<ProportionalGamblingTransferOptimizer>(
      settings, std::make_unique<MersenneTwisterRandomEngine>(seed),
      [this] { return static_cast<std::uint64_t>(std::floor(now_ * 1000.0)); });
}

double NodeSimulation::IdealSeconds(std::uint32_t chunks) const {
  double capacity = 0.0;
  for (const auto& node : nodes_) {
    if (!node.corrupt && !node.refuses) capacity += node.capacity;
  }
  return static_cast<double>(chunks) * static_cast<double>(chunkBytes_) / capacity;
}

SimulationResult NodeSimulation::Run(std::uint32_t chunks, std::uint32_t countFirstFrom) {
  SimulationResult result;
  result.bytes.assign(nodes_.size(), 0);
  const double start = now_;
  std::deque<std::shared_ptr<Chunk>> retries;
  std::uint32_t next = 0;
  std::uint32_t done = 0;
  std::vector<Request> active;
  const auto index = [&](const std::shared_ptr<NodeManifest>& node) {
    return static_cast<std::size_t>(std::find(manifests_.begin(), manifests_.end(), node) -
                                    manifests_.begin());
  };
  const auto drop = [&](Chunk& chunk) {
    auto& candidates = chunk.params.candidates;
    candidates.erase(std::remove(candidates.begin(), candidates.end(), chunk.params.SelectedNode),
                     candidates.end());
    if (candidates.empty()) candidates = manifests_;
  };

  while (done < chunks) {
    while (active.size() < slots_ && (!retries.empty() || next < chunks)) {
      std::shared_ptr<Chunk> chunk;
      if (!retries.empty()) {
        chunk = retries.front();
        retries.pop_front();
      } else {
        chunk = std::make_shared<Chunk>();
        chunk->index = next++;
        chunk->params.candidates = manifests_;
        chunk->params.ChunkData = std::make_shared<ChunkBounds>();
        chunk->params.ChunkData->lowerBound = chunk->index * chunkBytes_;
        chunk->params.ChunkData->upperBound = (chunk->index + 1) * chunkBytes_ - 1;
      }
      optimizer_->GetNode(chunk->params);
      const std::size_t node = index(chunk->params.SelectedNode);
      if (chunk->attempts++ == 0 && chunk->index >= countFirstFrom) {
        result.firstRequests.push_back(static_cast<std::uint32_t>(node));
      }
      active.push_back(Request{chunk, node, now_, static_cast<double>(chunkBytes_)});
    }

    // Processor sharing: every request of a node gets an equal share of its
    // capacity, up to the per-request limit. A refused request ends in 1 ms.
    std::vector<std::uint32_t> perNode(nodes_.size(), 0);
    for (const auto& request : active) ++perNode[request.node];
    std::vector<double> rates;
    double step = std::numeric_limits<double>::infinity();
    for (const auto& request : active) {
      const SimulatedNode& node = nodes_[request.node];
      double rate = node.capacity / perNode[request.node];
      if (node.perRequest > 0.0) rate = std::min(rate, node.perRequest);
      rates.push_back(rate);
      const double left =
          node.refuses ? std::max(0.0, request.start + 0.001 - now_) : request.remaining / rate;
      step = std::min(step, left);
    }
    if (!std::isfinite(step)) throw std::logic_error("NodeSimulation: no request can progress");
    now_ += step;

    std::vector<Request> running;
    for (std::size_t i = 0; i < active.size(); ++i) {
      Request& request = active[i];
      const SimulatedNode& node = nodes_[request.node];
      const bool refused = node.refuses && now_ >= request.start + 0.001 - 1e-12;
      if (!node.refuses) request.remaining -= rates[i] * step;
      const bool finished =
          !node.refuses && request.remaining <= 1e-6 * static_cast<double>(chunkBytes_);
      if (!refused && !finished) {
        running.push_back(request);
        continue;
      }
      Chunk& chunk = *request.chunk;
      const auto timeMs = static_cast<std::int32_t>(std::lround((now_ - request.start) * 1000.0));
      if (refused) {
        optimizer_->ReportResult(chunk.params,
                                 HttpRequestStatus(HttpRequestResult::ConnectFailed, 0), timeMs);
        drop(chunk);
        retries.push_back(request.chunk);
        continue;
      }
      result.bytes[request.node] += chunkBytes_;
      optimizer_->ReportResult(chunk.params,
                               HttpRequestStatus(HttpRequestResult::Success, chunkBytes_), timeMs);
      if (node.corrupt) {
        if (blame_) optimizer_->ReportChecksumFailure(chunk.params, chunkBytes_, timeMs);
        result.fetchedAgain += chunkBytes_;
        drop(chunk);
        retries.push_back(request.chunk);
        continue;
      }
      ++done;
      result.seconds = now_ - start;
    }
    active.swap(running);
  }
  for (const auto& manifest : manifests_)
    result.inFlightAfter += optimizer_->GetInFlight(*manifest);
  return result;
}

}  // namespace velmo
