#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velmo/optimizer/ProportionalGamblingTransferOptimizer.h"

namespace velmo {

// A download node as the simulation models it.
struct SimulatedNode {
  std::string host;
  // Bytes per second shared equally by all of the node's requests in flight.
  double capacity = 0.0;
  // Bytes per second one request can reach at most; 0 for no such limit.
  double perRequest = 0.0;
  // Every chunk the node delivers fails its checksum.
  bool corrupt = false;
  // Every request fails at once, as against an address that refuses them.
  bool refuses = false;
};

// What one simulated transfer did.
struct SimulationResult {
  // Bytes each node delivered, good or bad.
  std::vector<std::uint64_t> bytes;
  // The node of the first request of each chunk from `countFirstFrom` on.
  std::vector<std::uint32_t> firstRequests;
  // Simulated seconds until the last chunk was good.
  double seconds = 0.0;
  // Bytes delivered beyond one copy of each chunk.
  std::uint64_t fetchedAgain = 0;
  // Requests that the optimizer counted in flight after the transfer.
  std::uint32_t inFlightAfter = 0;
};

// Runs the real optimizer, with its seeded random engine, against simulated
// nodes on a simulated clock: `slots` chunk requests at a time, each chunk
// fetched until a node delivers it good, every node's capacity shared by its
// requests in flight. The calls are the chunk work's: GetNode, then
// ReportResult with the request's status and time, then ReportChecksumFailure
// for a bad chunk; the next attempt goes to a node the chunk has not tried in
// this rotation.
class NodeSimulation {
 public:
  NodeSimulation(std::vector<SimulatedNode> nodes, std::uint32_t slots, std::uint64_t chunkBytes,
                 std::uint32_t seed);

  // Blame bad chunks on their node (the default), or leave the success
  // standing as the optimizer once did.
  void SetBlame(bool blame) { blame_ = blame; }

  SimulationResult Run(std::uint32_t chunks, std::uint32_t countFirstFrom = 0);

  // The time a transfer of `chunks` would take with every good node busy.
  double IdealSeconds(std::uint32_t chunks) const;

  ProportionalGamblingTransferOptimizer& Optimizer() { return *optimizer_; }

 private:
  std::vector<SimulatedNode> nodes_;
  std::vector<std::shared_ptr<NodeManifest>> manifests_;
  std::uint32_t slots_;
  std::uint64_t chunkBytes_;
  bool blame_ = true;
  double now_ = 0.0;
  std::unique_ptr<ProportionalGamblingTransferOptimizer> optimizer_;
};

}  // namespace velmo
