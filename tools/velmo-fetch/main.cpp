// velmo-fetch: downloads one published package with the transfer engine, from
// the command line. The engine's own face for users, scripts and benchmarks.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "velmo/engine/EngineSettings.h"
#include "velmo/engine/TransferEngine.h"
#include "velmo/engine/TransferManager.h"
#include "velmo/engine/UnspecifiedVersion.h"
#include "velmo/platform/BuildValues.h"
#include "velmo/platform/System.h"
#include "velmo/transfer/Transfer.h"
#include "velmo/transfer/TransferStatus.h"

namespace {

// Exit codes: 0 done; 1 + the transfer error's value for a failed transfer
// (2..10), and these for everything else.
constexpr int kExitUsage = 64;
constexpr int kExitSuspended = 65;
constexpr int kExitUnknownTransfer = 66;
constexpr int kExitCanceled = 67;
constexpr int kExitErrorBase = 1;

const char kUsage[] =
    "Usage: velmo-fetch --host HOST[:PORT] --partner ID --package ID [--version ID]\n"
    "                   --dest DIR [--log-mask N] [--quiet]\n"
    "       velmo-fetch --resume TRANSFER_ID [--host HOST[:PORT]] [--log-mask N] [--quiet]\n"
    "\n"
    "Downloads one package with Velmo's transfer engine: fetches the package\n"
    "manifest from HOST (http://HOST/manifests/<package>/<version>.xml, or\n"
    "current.xml without --version) and the partner's node list\n"
    "(http://HOST/nodes/<partner>.xml), then fetches every chunk from the download\n"
    "nodes, verifies it against its CRC-32 and writes it into DIR. Chunks that are\n"
    "already valid in DIR are not fetched again.\n"
    "\n"
    "  --host HOST[:PORT]  manifest host (default: the build's own)\n"
    "  --partner ID        partner the package belongs to\n"
    "  --package ID        package to download\n"
    "  --version ID        version to download (default: the current one)\n"
    "  --dest DIR          destination folder (created if missing)\n"
    "  --log-mask N        work-log levels to record (default -9: all but verbose)\n"
    "  --quiet             no progress output\n"
    "  --resume ID         restore a transfer suspended earlier (with Ctrl-C) and\n"
    "                      complete it into the folder it was started with\n"
    "\n"
    "Progress goes to standard error: a one-line bar on a terminal, one line per\n"
    "second otherwise. Ctrl-C suspends the transfer and prints its id; its state\n"
    "is kept in the per-user temporary folder until it is resumed.\n"
    "\n"
    "Exit status: 0 when the package is complete; 1 + the transfer error otherwise:\n"
    "  2 ManifestError      the manifest or node list is invalid or not the one asked for\n"
    "  3 ConnectionError    the servers could not be reached or misbehaved\n"
    "  4 OutOfMemory        5 InsufficientDiskSpace    6 FileAccessError\n"
    "  7 ChecksumMismatch   8 FileError   9 RequestError   10 UnexpectedError\n"
    "  64 bad command line, 65 suspended (Ctrl-C), 66 unknown transfer id,\n"
    "  67 canceled.\n";

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) { gInterrupted = true; }

struct Options {
  std::string host;
  std::string partner;
  std::string package;
  std::string version = velmo::UnspecifiedVersion;
  std::string dest;
  std::string resume;
  std::int32_t logMask = -9;
  bool quiet = false;
};

[[noreturn]] void UsageError(const std::string& message) {
  std::cerr << "velmo-fetch: " << message << "\nRun 'velmo-fetch --help' for usage.\n";
  std::exit(kExitUsage);
}

Options Parse(int argc, char** argv) {
  Options options;
  options.host = velmo::build::kManifestHost;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) UsageError(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else if (arg == "--host") {
      options.host = value();
    } else if (arg == "--partner") {
      options.partner = value();
    } else if (arg == "--package") {
      options.package = value();
    } else if (arg == "--version") {
      options.version = value();
    } else if (arg == "--dest") {
      options.dest = value();
    } else if (arg == "--resume") {
      options.resume = value();
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--log-mask") {
      const std::string text = value();
      char* end = nullptr;
      const long mask = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || mask < INT32_MIN || mask > INT32_MAX) {
        UsageError("--log-mask needs a decimal integer, not '" + text + "'");
      }
      options.logMask = static_cast<std::int32_t>(mask);
    } else {
      UsageError("unknown argument '" + arg + "'");
    }
  }
  if (options.host.empty()) UsageError("no manifest host: give --host HOST[:PORT]");
  if (options.resume.empty()) {
    if (options.partner.empty()) UsageError("--partner is required");
    if (options.package.empty()) UsageError("--package is required");
    if (options.dest.empty()) UsageError("--dest is required");
  }
  return options;
}

std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

std::string Remaining(std::int32_t seconds) {
  if (seconds < 0) return "--:--";
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
  } else {
    std::snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
  }
  return text;
}

class Progress {
 public:
  explicit Progress(bool quiet) : quiet_(quiet), terminal_(::isatty(STDERR_FILENO) == 1) {}

  void Show(const velmo::TransferStatus& status) {
    if (quiet_ || status.totalBytes == 0) return;
    const auto now = std::chrono::steady_clock::now();
    const int percent = static_cast<int>(status.progressBytes * 100 / status.totalBytes);
    if (terminal_) {
      constexpr int kWidth = 30;
      std::string bar(static_cast<std::size_t>(percent * kWidth / 100), '#');
      bar.resize(kWidth, '.');
      std::fprintf(stderr, "\r[%s] %3d%% %s of %s, %s/s, %s left   ", bar.c_str(), percent,
                   Megabytes(status.progressBytes).c_str(), Megabytes(status.totalBytes).c_str(),
                   Megabytes(status.speed).c_str(), Remaining(status.secondsRemaining).c_str());
      drawn_ = true;
    } else if (now - last_ >= std::chrono::seconds(1)) {
      std::fprintf(stderr, "progress %d%% %llu/%llu bytes %llu B/s remaining %d s\n", percent,
                   static_cast<unsigned long long>(status.progressBytes),
                   static_cast<unsigned long long>(status.totalBytes),
                   static_cast<unsigned long long>(status.speed), status.secondsRemaining);
      last_ = now;
    }
  }

  void End() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }

 private:
  const bool quiet_;
  const bool terminal_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_{};
};

// Polls until the transfer ends or the user interrupts; starts it into `dest`
// once it is ready (an empty `dest` keeps the folder it already has).
int Drive(velmo::TransferEngine& engine, const std::string& id, const std::string& dest,
          bool quiet) {
  Progress progress(quiet);
  bool started = false;
  while (true) {
    if (gInterrupted) {
      progress.End();
      return kExitSuspended;
    }
    velmo::TransferStatus status = engine.GetTransferStatus(id);
    if (status.state == velmo::TransferState::Initialized && !started) {
      status = engine.StartTransfer(id, dest);
      started = true;
      if (status.state != velmo::TransferState::Transferring) {
        progress.End();
        std::cerr << "velmo-fetch: the transfer could not be started into '" << dest << "'\n";
        return kExitErrorBase + static_cast<int>(velmo::TransferError::UnexpectedError);
      }
    }
    progress.Show(status);
    if (status.error != velmo::TransferError::None) {
      progress.End();
      std::cerr << "velmo-fetch: transfer failed: " << velmo::ToString(status.error)
                << (status.retryable ? " (retryable; resume later with --resume " + id + ")" : "")
                << "\n";
      return kExitErrorBase + static_cast<int>(status.error);
    }
    if (status.state == velmo::TransferState::Completed) {
      progress.End();
      if (!quiet) {
        std::cerr << "velmo-fetch: complete: " << status.totalBytes << " bytes in "
                  << status.destPath;
        if (!status.runPath.empty()) std::cerr << " (program: " << status.runPath << ")";
        std::cerr << "\n";
      }
      return 0;
    }
    if (status.state == velmo::TransferState::Invalid) {
      progress.End();
      std::cerr << "velmo-fetch: unknown transfer '" << id << "'\n";
      return kExitUnknownTransfer;
    }
    if (velmo::IsFinal(status)) {
      progress.End();
      std::cerr << "velmo-fetch: the transfer ended in state " << static_cast<int>(status.state)
                << "\n";
      return kExitCanceled;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  velmo::EngineSettings settings(velmo::ProcessorCount());
  settings.manifestHost = options.host;
  settings.logMask = options.logMask;

  std::string id;
  int result = 0;
  {
    velmo::TransferEngine engine(settings);
    if (options.resume.empty()) {
      std::error_code error;
      std::filesystem::create_directories(options.dest, error);
      const std::string dest = std::filesystem::absolute(options.dest, error).string();
      const velmo::TransferStatus created =
          engine.CreateTransfer(options.partner, options.package, options.version);
      id = created.transferId;
      if (!options.quiet) std::cerr << "velmo-fetch: transfer " << id << "\n";
      if (created.state == velmo::TransferState::Invalid) {
        std::cerr << "velmo-fetch: the engine could not create a transfer\n";
        return kExitErrorBase + static_cast<int>(velmo::TransferError::UnexpectedError);
      }
      result = Drive(engine, id, dest, options.quiet);
    } else {
      id = options.resume;
      const auto transfer = engine.GetTransferManager().Find(id, engine.GetBehavior());
      if (!transfer) {
        std::cerr << "velmo-fetch: no suspended transfer '" << id << "'\n";
        return kExitUnknownTransfer;
      }
      const velmo::TransferStatus restored = transfer->Restore();
      if (restored.state != velmo::TransferState::Initializing) {
        std::cerr << "velmo-fetch: transfer '" << id << "' cannot be resumed (state "
                  << static_cast<int>(restored.state) << ")\n";
        return kExitCanceled;
      }
      result = Drive(engine, id, std::string(), options.quiet);
    }
    // Leaving the scope shuts the engine down, which suspends an unfinished
    // transfer and keeps its stored state for --resume.
  }
  if (result == kExitSuspended) {
    std::cerr << "velmo-fetch: suspended transfer " << id << "\n"
              << "resume with: velmo-fetch --resume " << id << "\n";
    std::cout << id << "\n";
  }
  return result;
}
