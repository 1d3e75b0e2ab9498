#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmo {

// Every tunable constant of the transfer engine, with its default. The
// program entry builds the defaults, applies the few overrides the
// bootstrapper allows (DeriveEngineSettings) and hands the record to the
// engine, which copies it wherever single values are needed. A plain record:
// copying it is cheap and shares nothing.
//
// Counts are unsigned 32-bit; timeouts and sizes are signed 32-bit, in the
// unit named beside each field.
struct EngineSettings {
  // Defaults, with P = ProcessorCount().
  EngineSettings();
  // Defaults for a machine reporting `processorCount` processors (0 and 1
  // both count as one), so callers and tests need not depend on this machine.
  explicit EngineSettings(unsigned processorCount);

  std::string manifestHost;  // host[:port] of all manifest URLs
  // Publisher keys (base64 of 32-byte Ed25519 public keys). With any, every
  // manifest and node list must be signed by one of them, unexpired, and a
  // package must pin its chunks with SHA-256; with none nothing is checked.
  std::vector<std::string> trustedKeys;
  std::string transfersFolder = "Orvanta/Pellaris/transfers";  // below the temp folder
  std::string logsFolder = "Orvanta/Pellaris/logs";
  std::int32_t logMask = -9;  // every work-log level but the one of value 8
  std::uint32_t manifestRetryCount = 4;
  std::int32_t manifestConnectTimeout = 10;  // seconds
  std::int32_t manifestTimeout = 30;         // seconds
  // The retries of one chunk's fetch (wrong bytes) and of one request
  // (failed requests): each limit is max(floor, min(nodes - 1, maxNodeRetries)),
  // so every node of a short list gets its turn while a list of thousands
  // cannot keep one chunk going for thousands of requests before the
  // transfer hears of the failure.
  std::uint32_t chunkRetryCount = 4;    // floor
  std::uint32_t requestRetryCount = 4;  // floor
  std::uint32_t maxNodeRetries = 16;    // most retries the node count adds
  // The wait before asking a node or the manifest host again after a failed
  // request: retryBackoffBase doubled with each consecutive failure, capped
  // at retryBackoffMax, half of it fixed and half drawn at random so that
  // the requests of many clients spread out. A 429 or 503 answer's
  // Retry-After (delta seconds or an HTTP date) lengthens it, to at most
  // maxRetryAfter. A node that is waiting is not chosen while another one
  // can be; the retry counts above still bound how often each is asked, so
  // the total wait is bounded too.
  std::int32_t retryBackoffBase = 250;          // milliseconds
  std::int32_t retryBackoffMax = 8000;          // milliseconds
  std::int32_t maxRetryAfter = 30;              // seconds
  std::int32_t minConnectTimeout = 3;           // seconds
  std::int32_t maxConnectTimeout = 15;          // seconds
  std::int32_t exploreConnectTimeout = 2;       // seconds
  std::int32_t minRequestTimeout = 10;          // seconds
  std::int32_t exploreMinRequestTimeout = 3;    // seconds
  std::int32_t minRequestSpeed = 7168;          // bytes per second, all parallel requests
  std::int32_t exploreMinRequestSpeed = 32768;  // bytes per second
  std::int32_t minLowSpeedTime = 5;             // seconds
  std::int32_t maxLowSpeedTime = 60;            // seconds
  std::int32_t exploreLowSpeedTime = 3;         // seconds
  std::int32_t speedSampleWindow = 10;          // seconds
  std::int32_t remainingTimeInterval = 500;     // milliseconds
  std::uint32_t transferThreadCount = 3;        // P + 2
  std::uint32_t workflowConcurrency = 3;        // P + 2
  std::uint32_t parallelWorkCapacity = 3;       // P + 2
  std::int32_t proxyResolveTimeout = 5000;      // milliseconds
  std::int32_t proxyConnectTimeout = 5000;      // milliseconds
  std::int32_t proxySendTimeout = 5000;         // milliseconds
  std::int32_t proxyReceiveTimeout = 5000;      // milliseconds
  std::int32_t analyticsConnectTimeout = 10;    // seconds
  std::int32_t analyticsTimeout = 10;           // seconds
  std::uint32_t analyticsRetryCount = 1;
  std::int32_t periodicEventInterval = 300;  // seconds of active time
  // The optimizer's sampling trials for a draw among n nodes:
  // max(minTrials, min(maxTrials / n, trialsPerNode * n)). maxTrials bounds
  // the samples (n per trial) of a long list; minTrials keeps a very long one
  // sampled at all rather than drawn by weight alone.
  std::uint32_t trialsPerNode = 50;
  std::uint32_t maxTrials = 10000;
  std::uint32_t minTrials = 10;
  double statisticsSmoothingFactor = 0.3;  // weight of a new sample
  // Received chunks wait in memory until they are verified. A chunk of up to
  // chunkBufferSize bytes is held whole; a larger one is staged in pieces of
  // that size in an unnamed file of the private transfers folder and reaches
  // its destination only once verified. The pool holds up to
  // ChunkBufferMemoryFor(settings): chunkBufferMemory, raised to one buffer
  // per request slot (each work thread, plus the tail request that runs above
  // the workflow's bound), so that no running request falls back to a small
  // buffer (a small buffer stages a chunk in many small pieces).
  std::uint32_t chunkBufferSize = 4u << 20;     // bytes
  std::uint32_t chunkBufferMemory = 32u << 20;  // bytes
};

// The most the engine's chunk buffer pool holds: chunkBufferMemory, or one
// buffer of chunkBufferSize per request slot when that is more.
std::size_t ChunkBufferMemoryFor(const EngineSettings& settings);

}  // namespace velmo
