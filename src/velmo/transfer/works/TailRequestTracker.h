#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace velmo {

class HttpRequest;
class NodeManifest;
class PackageManifest;
class SharedFile;
class TransferSharedFileData;
class TransferSharedMapData;

// Knows which chunks of one transfer are being requested, so that the end of
// a download does not wait on its slowest node. Once every chunk of a stage
// that is not yet verified is being requested ("the tail"), a request slot
// that comes free takes the in-flight chunk expected to finish last and
// requests it again from another node; whichever copy is verified first is
// written, and the other request is cancelled. A chunk has at most two copies
// in flight: its pipeline's request and one second request. The second lives
// until the chunk is verified or it ends itself (SecondEnded), also when the
// pipeline's copy fails meanwhile; the chunk stays in flight until both have
// ended, and gets no other second request before that. A stage is the set of files
// that can be in progress together: the program files, which are fetched
// one after another before the rest, then the whole package.
//
// Every request start and end asks whether its stage is in its tail, so that
// answer is kept, not computed: for the stages CurrentStage hands out, counts
// of the stage's bytes, verified bytes, bytes in flight and chunks in flight
// follow each start, end and verification, and the question costs the same
// for ten files as for ten thousand. A stage made elsewhere (tests) is
// answered by walking its files.
//
// A chunk is known by its file's TransferSharedFileData and its first byte.
// The file data is made once per file by the work tree of one incarnation of
// the transfer (TransferSingleFileWork::Create), and the tracker belongs to
// that incarnation's work interface, so within a tracker one file data is
// one file. The tracker keeps each file data it has seen alive, so that its
// address is never reused for another file.
//
// Threads: every call from any work-manager thread, under mutex_. The
// requests are cancelled after mutex_ is released (Cancel may take the
// request's own lock).
class TailRequestTracker {
 public:
  struct Straggler {
    std::shared_ptr<TransferSharedMapData> chunk;
    std::shared_ptr<NodeManifest> node;  // the node its request went to
    std::shared_ptr<SharedFile> file;    // its file, open while it is in flight
  };

  // The files of a stage: path and size.
  using Stage = std::map<std::string, std::uint64_t>;

  // A request of `chunk` to `node` begins (again). Called from the chunk's
  // own pipeline, where reading its file is safe. Requests are remembered
  // weakly: one that has ended is not kept from going back to its pool. True
  // when this request begins the tail of `stage`: the chunk was not in flight
  // and now every chunk of the stage not yet verified is. No other chunk of
  // the stage is left to start, so no other pipeline may be left to end and
  // look for a straggler: the caller then starts a tail request itself.
  bool Started(const std::shared_ptr<TransferSharedMapData>& chunk,
               const std::shared_ptr<HttpRequest>& request, std::shared_ptr<NodeManifest> node,
               const Stage& stage);
  // The chunk's bytes are verified and in the file (by whichever request);
  // every other request of it is cancelled. Repeated calls count once.
  void Verified(const TransferSharedMapData& chunk);
  // The pipeline's copy of the chunk ended without being verified (it failed,
  // or its bytes did not match). A running second request is kept, to be
  // cancelled when a copy wins.
  void Dropped(const TransferSharedMapData& chunk);
  // The second request of `chunk` has ended (won, lost or failed). The chunk
  // is not taken again while its first request runs; once that has ended
  // too, it leaves the flight, and its next request may be doubled anew.
  // `request` is null when the second request taken by TakeStraggler was
  // never started.
  void SecondEnded(const TransferSharedMapData& chunk, const HttpRequest* request);

  // When every chunk of the stage's files that is not yet verified is in
  // flight, the one of them expected to finish last at `nowMs` that has no
  // second request yet, now marked as having one. Before that, a stalled one:
  // a request that has run for kStallFactor times the typical chunk (at least
  // kStallFloorMs) and is expected to need four times that in all (one that
  // has received nothing, never to finish), since it holds a request slot
  // the rest of the download could use. Else an empty chunk.
  Straggler TakeStraggler(const Stage& stage, std::uint32_t nowMs);
  // True, once, when `request` is the request of `chunk` that was taken as
  // stalled: its node is then blamed for a failed request by the pipeline
  // whose request lost. A later request of the chunk (a retry, maybe on a
  // healthy node) is never blamed for an earlier one's stall.
  bool ConsumeStalled(const TransferSharedMapData& chunk, const HttpRequest& request);

  // How long a request may go without progress before it counts as stalled:
  // kStallFactor typical chunks, at least kStallFloorMs.
  std::uint32_t StallMs() const;

  static constexpr std::uint32_t kStallFactor = 8;
  static constexpr std::uint32_t kStallFloorMs = 250;
  // True when every byte of the stage's files is verified.
  bool IsComplete(const Stage& stage) const;
  // The stage whose tail is the current one in `package`: its program files,
  // fetched one after another before the rest, while one of them is missing;
  // then the whole package. Built once per package, not per request.
  std::shared_ptr<const Stage> CurrentStage(const std::shared_ptr<const PackageManifest>& package);
  // Registers the second request of a straggler. False when the chunk was
  // verified meanwhile (the caller then does not start it).
  bool SetSecondRequest(const TransferSharedMapData& chunk,
                        const std::shared_ptr<HttpRequest>& request);

  // True when every chunk of the stage not yet verified is in flight, and
  // one is.
  bool InTail(const Stage& stage) const;

  // Bytes received by requests whose copy of a chunk was not the one kept.
  void AddWasted(std::uint64_t bytes);
  std::uint64_t GetWastedBytes() const;
  std::uint64_t GetVerifiedBytes() const;
  std::uint64_t GetVerifiedBytes(const std::string& filePath) const;

 private:
  struct Key {
    const TransferSharedFileData* file = nullptr;
    std::uint64_t first = 0;  // the chunk's first byte
    bool operator==(const Key& other) const { return file == other.file && first == other.first; }
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const noexcept;
  };

  // The first bytes of a file's verified chunks. A file's chunks are all of
  // one size but its last, whose first byte is on the same grid, so a bitmap
  // indexed by first byte / chunk size holds them in a bit each; the chunk
  // size is learned from the first chunk that shows it. A first byte off
  // that grid goes to a hash set (never with the engine's chunks).
  class ChunkSet {
   public:
    bool Contains(std::uint64_t first) const;
    // False when `first` was in already.
    bool Insert(std::uint64_t first, std::uint64_t size, std::uint64_t fileSize);

   private:
    std::uint64_t chunkSize_ = 0;  // none learned yet
    std::vector<std::uint64_t> bits_;
    std::unique_ptr<std::unordered_set<std::uint64_t>> offGrid_;
  };

  // What is known of one file.
  struct FileRecord {
    std::shared_ptr<const TransferSharedFileData> data;  // its address is the file's key
    ChunkSet verifiedChunks;
    std::uint64_t verifiedBytes = 0;
    std::uint64_t stageSize = 0;  // its size as the stages below give it
    bool inProgram = false;
    bool inWhole = false;
  };

  // The counts kept for one of the stages CurrentStage hands out.
  struct StageCounts {
    std::uint64_t bytes = 0;            // of the stage's files
    std::uint64_t verifiedBytes = 0;    // of them verified
    std::uint64_t inFlightBytes = 0;    // of their chunks in flight
    std::uint64_t inFlight = 0;         // their chunks in flight
    std::uint64_t incompleteFiles = 0;  // of some size, not wholly verified
  };

  struct InFlight {
    std::shared_ptr<TransferSharedMapData> chunk;
    FileRecord* record = nullptr;  // of the chunk's file; records are never erased
    std::uint64_t size = 0;        // as counted in its stages
    std::shared_ptr<NodeManifest> node;
    std::shared_ptr<SharedFile> file;
    std::uint32_t startedMs = 0;
    std::weak_ptr<HttpRequest> own;  // the pipeline's request, while it runs
    bool ownRunning = false;
    std::weak_ptr<HttpRequest> second;  // the second request, while it runs
    bool secondRunning = false;
    // A second request was taken in this flight: one per flight, so that a
    // held first request cannot make a tail request ask again and again.
    bool duplicated = false;
  };
  using InFlightMap = std::unordered_map<Key, InFlight, KeyHash>;

  static Key KeyOf(const TransferSharedMapData& chunk);
  // The rest under mutex_.
  FileRecord& RecordOf(const TransferSharedMapData& chunk);
  // Sets the record's stage membership from the stages below.
  void Classify(FileRecord& record) const;
  // The counts of `stage` when it is one of the stages below, else null.
  const StageCounts* CountsOf(const Stage& stage) const;
  bool InStage(const FileRecord& record, const Stage& stage) const;
  // Adds (`sign` 1) or takes away (-1) a chunk in flight in its stages' counts.
  void CountFlight(const InFlight& entry, int sign);
  void EraseFlight(InFlightMap::iterator it);
  // Counts the stages below afresh, after they were made for a package.
  void RecountStages();
  bool InTailLocked(const Stage& stage) const;
  bool IsCompleteLocked(const Stage& stage) const;

  mutable std::mutex mutex_;
  InFlightMap inFlight_;
  std::unordered_map<const TransferSharedFileData*, FileRecord> files_;
  // The request of each chunk that was taken as stalled, until consumed.
  std::unordered_map<Key, std::weak_ptr<HttpRequest>, KeyHash> stalled_;
  std::optional<double> typicalChunkMs_;           // moving average, start to verified; none yet
  std::weak_ptr<const PackageManifest> stagesOf_;  // the package the stages below are of
  std::shared_ptr<const Stage> programStage_;
  std::shared_ptr<const Stage> wholeStage_;
  StageCounts programCounts_;
  StageCounts wholeCounts_;
  std::uint64_t verifiedBytes_ = 0;
  std::uint64_t wastedBytes_ = 0;
};

}  // namespace velmo
