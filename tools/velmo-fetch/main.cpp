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

#include "FetchOutput.h"
#include "FetchRecord.h"
#include "velmo/engine/EngineSettings.h"
#include "velmo/engine/TransferEngine.h"
#include "velmo/engine/TransferManager.h"
#include "velmo/engine/UnspecifiedVersion.h"
#include "velmo/manifest/ManifestTrust.h"
#include "velmo/manifest/NodeListManifest.h"
#include "velmo/manifest/NodeManifest.h"
#include "velmo/manifest/PackageManifest.h"
#include "velmo/optimizer/NodeStatistics.h"
#include "velmo/platform/BuildValues.h"
#include "velmo/platform/System.h"
#include "velmo/transfer/Transfer.h"
#include "velmo/transfer/TransferStatus.h"
#include "velmo/transfer/TransferWorkInterface.h"

namespace {

using velmo::fetch::FetchRecord;

// Exit codes: 0 done; 1 + the transfer error's value for a failed transfer
// (2..10), and these for everything else.
constexpr int kExitUsage = 64;
constexpr int kExitSuspended = 65;
constexpr int kExitUnknownTransfer = 66;
constexpr int kExitCanceled = 67;
constexpr int kExitBusy = 68;
constexpr int kExitUnreadableTransfer = 69;
constexpr int kExitErrorBase = 1;

std::string Usage(const velmo::EngineSettings& settings) {
  const std::string temp = velmo::UserTempFolder();
  const std::string folder = temp.empty() ? std::string("(none: set TMPDIR or HOME)") : temp;
  return "Usage: velmo-fetch --host HOST[:PORT] --partner ID --package ID [--version ID]\n"
         "                   --dest DIR [--trust-key KEY ...] [--json] [--log-mask N] [--quiet]\n"
         "                   [--wait]\n"
         "       velmo-fetch --resume TRANSFER_ID [--host HOST[:PORT]] [--trust-key KEY ...]\n"
         "                   [--json] [--log-mask N] [--quiet] [--wait]\n"
         "       velmo-fetch --list\n"
         "       velmo-fetch --discard TRANSFER_ID [--delete-files]\n"
         "       velmo-fetch --version\n"
         "\n"
         "Downloads one package with Velmo's transfer engine: fetches the package\n"
         "manifest from HOST (http://HOST/manifests/<package>/<version>.xml, or\n"
         "current.xml without --version) and the partner's node list\n"
         "(http://HOST/nodes/<partner>.xml; https:// for a HOST given as\n"
         "https://HOST[:PORT]), then fetches every chunk from the download\n"
         "nodes, verifies it against its CRC-32 (and SHA-256) and writes it into DIR. Chunks that "
         "are\n"
         "already valid in DIR are not fetched again.\n"
         "\n"
         "  --host HOST[:PORT]  manifest host, or https://HOST[:PORT] (default: the build's own, " +
         std::string(velmo::build::kManifestHost) +
         ";\n"
         "                      with --resume: the host the transfer was started with)\n"
         "  --partner ID        partner the package belongs to\n"
         "  --package ID        package to download\n"
         "  --version ID        version to download (default: the current one); alone,\n"
         "                      --version prints velmo-fetch's own version\n"
         "  --dest DIR          destination folder (created if missing)\n"
         "  --trust-key KEY     trust manifests signed by KEY (base64, the line of the\n"
         "                      .pub file 'velmo-publish keygen' writes); repeatable for\n"
         "                      key rotation. With any key, the manifest and node list\n"
         "                      must carry a valid unexpired signature by one of them\n"
         "                      and the manifest a SHA-256 per chunk, else the transfer\n"
         "                      fails (2) before any chunk is fetched. --resume checks\n"
         "                      again: give the keys again, they are never stored.\n"
         "  --json              JSON lines on standard output instead of the progress:\n"
         "                      start, progress (every second), nodes, end\n"
         "  --log-mask N        work-log levels to record (default -9: all but verbose)\n"
         "  --quiet             no progress output\n"
         "  --wait              wait while another run uses the same folder or transfer\n"
         "                      (without it such a run ends at once with status 68)\n"
         "  --resume ID         restore a transfer suspended earlier (Ctrl-C, a crash) and\n"
         "                      complete it into the folder it was started with\n"
         "  --list              list the stored transfers: id, package, folder, bytes\n"
         "                      done of total, state\n"
         "  --discard ID        forget a stored transfer; its files stay unless\n"
         "                      --delete-files is given too\n"
         "\n"
         "Progress goes to standard error: a one-line bar on a terminal, one line per\n"
         "second otherwise (\"12% 123.4 MiB of 1.0 GiB, 45.6 MiB/s, 20 s left\"). Errors\n"
         "name the error and its cause: the document's URL and the HTTP status or\n"
         "libcurl's message, or the file and the system's message.\n"
         "\n"
         "Ctrl-C suspends the transfer and prints its id. Transfers are kept in\n"
         "  " +
         velmo::JoinPath(folder, settings.transfersFolder) +
         "\n"
         "below the temporary folder (" +
         folder +
         ":\n"
         "$TMPDIR, else $XDG_CACHE_HOME, else ~/.cache); the work log goes to\n"
         "  " +
         velmo::JoinPath(folder, settings.logsFolder) +
         "\n"
         "\n"
         "Exit status: 0 when the package is complete; 1 + the transfer error otherwise:\n"
         "  2 ManifestError      the manifest or node list is invalid or not the one asked for\n"
         "  3 ConnectionError    the servers could not be reached or misbehaved\n"
         "  4 OutOfMemory        5 InsufficientDiskSpace    6 FileAccessError\n"
         "  7 ChecksumMismatch   8 FileError   9 RequestError   10 UnexpectedError\n"
         "  64 bad command line, 65 suspended or interrupted (Ctrl-C), 66 unknown transfer\n"
         "  id, 67 canceled, 68 another run is using the folder or the transfer (it is\n"
         "  named: pid and command), 69 the stored transfer cannot be read (its file\n"
         "  and the reason are named).\n"
         "\n"
         "Only a transfer that was stored can be resumed: a run that ends before its\n"
         "transfer starts (the manifest host unreachable, Ctrl-C) says to run the\n"
         "same command again instead.\n";
}

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) { gInterrupted = true; }

struct Options {
  std::string host;  // empty: not given
  std::string partner;
  std::string package;
  std::string version = velmo::UnspecifiedVersion;
  std::string dest;
  std::string resume;
  std::string discard;
  std::int32_t logMask = -9;
  bool quiet = false;
  bool json = false;
  bool list = false;
  bool deleteFiles = false;
  bool wait = false;
  std::vector<std::string> trustKeys;
};

[[noreturn]] void UsageError(const std::string& message) {
  std::cerr << "velmo-fetch: " << message << "\nRun 'velmo-fetch --help' for usage.\n";
  std::exit(kExitUsage);
}

Options Parse(int argc, char** argv, const velmo::EngineSettings& settings) {
  Options options;
  // Alone, --version asks for the program's version; with a value it names the
  // package version, as it always has.
  if (argc == 2 && (std::string(argv[1]) == "--version" || std::string(argv[1]) == "-V")) {
    std::cout << "velmo-fetch " << VELMO_VERSION << "\n";
    std::exit(0);
  }
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) UsageError(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << Usage(settings);
      std::exit(0);
    } else if (arg == "--host") {
      options.host = value();
      if (options.host.empty()) UsageError("--host needs a HOST[:PORT], not ''");
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
    } else if (arg == "--discard") {
      options.discard = value();
    } else if (arg == "--delete-files") {
      options.deleteFiles = true;
    } else if (arg == "--list") {
      options.list = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--wait") {
      options.wait = true;
    } else if (arg == "--trust-key") {
      const std::string key = value();
      if (!velmo::IsEncodedPublicKey(key)) {
        UsageError("--trust-key needs base64 of a 32-byte Ed25519 public key, not '" + key + "'");
      }
      options.trustKeys.push_back(key);
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
  const int modes =
      (options.list ? 1 : 0) + (options.discard.empty() ? 0 : 1) + (options.resume.empty() ? 0 : 1);
  if (modes > 1) UsageError("--list, --discard and --resume exclude each other");
  if (options.deleteFiles && options.discard.empty()) UsageError("--delete-files needs --discard");
  if (modes == 0) {
    if (options.partner.empty()) UsageError("--partner is required");
    if (options.package.empty()) UsageError("--package is required");
    if (options.dest.empty()) UsageError("--dest is required");
  }
  return options;
}

// Everything a run shows: the progress on standard error, or the JSON lines on
// standard output.
class Reporter {
 public:
  Reporter(bool quiet, bool json)
      : quiet_(quiet || json), json_(json), terminal_(::isatty(STDERR_FILENO) == 1) {}

  bool Json() const { return json_; }

  void Start(const velmo::TransferStatus& status, const std::string& version, bool known,
             std::uint64_t files) {
    if (started_) return;
    started_ = true;
    if (json_) Line(velmo::fetch::StartEvent(status, version, known, files));
  }

  void Progress(const velmo::TransferStatus& status) {
    const auto now = std::chrono::steady_clock::now();
    const bool due = now - last_ >= std::chrono::seconds(1);
    if (json_) {
      if (due && started_) {
        Line(velmo::fetch::ProgressEvent(status));
        last_ = now;
      }
      return;
    }
    if (quiet_ || status.totalBytes == 0) return;
    const std::string line = velmo::fetch::ProgressLine(status);
    if (terminal_) {
      const std::uint64_t done =
          status.progressBytes > status.totalBytes ? status.totalBytes : status.progressBytes;
      constexpr std::uint64_t kWidth = 30;
      std::string bar(static_cast<std::size_t>(done * kWidth / status.totalBytes), '#');
      bar.resize(kWidth, '.');
      std::fprintf(stderr, "\r[%s] %s   ", bar.c_str(), line.c_str());
      drawn_ = true;
    } else if (due) {
      std::fprintf(stderr, "%s\n", line.c_str());
      last_ = now;
    }
  }

  void Nodes(const std::vector<velmo::fetch::NodeCounters>& nodes) {
    if (json_) Line(velmo::fetch::NodesEvent(nodes));
  }

  void End(const std::string& id, const std::string& state, velmo::TransferError error,
           const std::string& cause) {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
    if (json_) Line(velmo::fetch::EndEvent(id, state, error, cause));
  }

  // A message for people: always on standard error.
  void Say(const std::string& text) {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
    std::cerr << "velmo-fetch: " << text << "\n";
  }

 private:
  static void Line(const std::string& json) {
    std::cout << json << "\n";
    std::cout.flush();
  }

  const bool quiet_;
  const bool json_;
  const bool terminal_;
  bool drawn_ = false;
  bool started_ = false;
  std::chrono::steady_clock::time_point last_{};
};

std::vector<velmo::fetch::NodeCounters> NodeCountersOf(velmo::Transfer* transfer) {
  std::vector<velmo::fetch::NodeCounters> out;
  if (transfer == nullptr) return out;
  const auto work = transfer->GetWorkInterface();
  const auto nodeList = work ? work->GetNodeList() : nullptr;
  if (!nodeList) return out;
  for (const auto& node : nodeList->GetNodes()) {
    velmo::fetch::NodeCounters counters;
    counters.nodeId = node->GetNodeId();
    counters.host = node->GetHost();
    // The node's own counters: this transfer's requests alone.
    if (const auto statistics = node->GetStatistics()) {
      counters.bytes = statistics->GetBytes();
      counters.requests = std::uint64_t{statistics->GetRequests()} + statistics->GetErrors();
      counters.failures = statistics->GetErrors();
      counters.checksumFailures = statistics->GetChecksumFailures();
    }
    out.push_back(counters);
  }
  return out;
}

struct Run {
  velmo::TransferEngine& engine;
  std::string id;
  std::string dest;  // empty: the folder the transfer already has
  std::string recordPath;
  FetchRecord record;
  Reporter& reporter;
  // The engine holds the transfer's stored document: a restored transfer, or
  // a new one once it started and its document was written.
  bool stored = false;
  bool recordSaved = true;  // false once writing the record failed
  bool retryableFailure = false;
};

void SaveRecord(Run& run, const velmo::TransferStatus& status) {
  run.record.state = velmo::StateName(status.state);
  if (status.totalBytes != 0) {
    run.record.totalBytes = status.totalBytes;
    run.record.completedBytes = status.completedBytes;
  }
  // A record without its stored transfer would be an orphan that --resume
  // cannot use.
  if (!run.stored) return;
  std::string error;
  if (velmo::fetch::SaveFetchRecord(run.recordPath, run.record, &error)) return;
  if (run.recordSaved) {
    // The engine's document is there, but not the host the transfer came
    // from, which a resume needs unless it is given again.
    run.reporter.Say("this transfer cannot be resumed without --host " + run.record.host + ": " +
                     error);
  }
  run.recordSaved = false;
}

// Polls until the transfer ends or the user interrupts; starts it into the
// folder once it is ready.
int Drive(Run& run, const std::string& requestedVersion) {
  Reporter& reporter = run.reporter;
  const std::shared_ptr<velmo::Transfer> transfer =
      run.engine.GetTransferManager().Find(run.id, run.engine.GetBehavior());
  bool started = false;
  auto lastSave = std::chrono::steady_clock::now();
  velmo::TransferStatus status;
  const auto finish = [&](const std::string& state, velmo::TransferError error,
                          const std::string& cause) {
    if (!started) {
      reporter.Start(status, requestedVersion == velmo::UnspecifiedVersion ? "" : requestedVersion,
                     false, 0);
    }
    reporter.Nodes(NodeCountersOf(transfer.get()));
    SaveRecord(run, status);
    reporter.End(run.id, state, error, cause);
  };
  while (true) {
    status = run.engine.GetTransferStatus(run.id);
    if (gInterrupted) {
      status.state = velmo::TransferState::Suspended;
      finish("Suspended", velmo::TransferError::None, "");
      return kExitSuspended;
    }
    if (status.state == velmo::TransferState::Initialized && !started) {
      const auto work = transfer ? transfer->GetWorkInterface() : nullptr;
      const auto package = work ? work->GetPackage() : nullptr;
      std::uint64_t files = 0;
      std::string version = status.versionId;
      if (package) {
        files = package->GetFiles().size();
        version = package->GetVersionId();
        run.record.files.clear();
        for (const auto& file : package->GetFiles()) run.record.files.push_back(file->GetPath());
      }
      reporter.Start(status, version, package != nullptr, files);
      started = true;
      status = run.engine.StartTransfer(run.id, run.dest);
      if (status.state != velmo::TransferState::Transferring) {
        const std::string cause = "the transfer could not be started into '" +
                                  (run.dest.empty() ? std::string("its folder") : run.dest) +
                                  "' (state " + velmo::StateName(status.state) + ")";
        reporter.Say(cause);
        finish(velmo::StateName(status.state), velmo::TransferError::UnexpectedError, cause);
        return kExitErrorBase + static_cast<int>(velmo::TransferError::UnexpectedError);
      }
      if (!status.storeError.empty()) {
        reporter.Say("this transfer cannot be resumed: " + status.storeError);
      } else {
        run.stored = true;
      }
      SaveRecord(run, status);
    }
    reporter.Progress(status);
    if (status.error != velmo::TransferError::None) {
      // Whether a resume can follow is known once the engine has shut down
      // and kept, or not kept, the transfer's document.
      reporter.Say("transfer failed: " + velmo::fetch::ErrorLine(status));
      run.retryableFailure = status.retryable;
      finish(velmo::StateName(status.state), status.error, status.errorCause);
      return kExitErrorBase + static_cast<int>(status.error);
    }
    if (status.state == velmo::TransferState::Completed) {
      if (!reporter.Json() && !status.destPath.empty()) {
        std::string done = "complete: " + velmo::fetch::FormatBytes(status.totalBytes) + " (" +
                           std::to_string(status.totalBytes) + " bytes) in " + status.destPath;
        if (!status.runPath.empty()) done += " (program: " + status.runPath + ")";
        reporter.Say(done);
      }
      finish("Completed", velmo::TransferError::None, "");
      return 0;
    }
    if (status.state == velmo::TransferState::Invalid) {
      reporter.Say("unknown transfer '" + run.id + "'");
      finish("Invalid", velmo::TransferError::None, "");
      return kExitUnknownTransfer;
    }
    if (velmo::IsFinal(status)) {
      reporter.Say(std::string("the transfer ended in state ") + velmo::StateName(status.state));
      finish(velmo::StateName(status.state), velmo::TransferError::None, "");
      return kExitCanceled;
    }
    const auto now = std::chrono::steady_clock::now();
    if (started && now - lastSave >= std::chrono::seconds(5)) {
      SaveRecord(run, status);
      lastSave = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// A column of the listing: padded to `width`, and always two spaces apart from
// the next one, so that a long value never runs into it.
std::string Cell(std::string text, std::size_t width) {
  if (text.size() + 2 < width) {
    text.resize(width, ' ');
  } else {
    text += "  ";
  }
  return text;
}

int List(const velmo::EngineSettings& settings) {
  const auto entries = velmo::fetch::ListStoredTransfers(settings.transfersFolder);
  if (entries.empty()) {
    std::cout << "no stored transfers in "
              << velmo::JoinPath(velmo::UserTempFolder(), settings.transfersFolder) << "\n";
    return 0;
  }
  std::cout << Cell("ID", 34) << Cell("PACKAGE", 24) << Cell("FOLDER", 32) << Cell("DONE", 26)
            << "STATE\n";
  for (const auto& entry : entries) {
    const auto& params = entry.params;
    const std::string version =
        params.versionId == velmo::UnspecifiedVersion ? "current" : params.versionId;
    std::string done = "unknown";
    if (entry.hasRecord && entry.record.totalBytes != 0) {
      done = velmo::fetch::FormatBytes(entry.record.completedBytes) + " of " +
             velmo::fetch::FormatBytes(entry.record.totalBytes);
    }
    std::string state = entry.hasRecord && !entry.record.state.empty() ? entry.record.state
                                                                       : std::string("unknown");
    // A run that was killed never wrote its last state; the engine suspends
    // whatever it finds stored.
    if (state == "Transferring" || state == "Initializing" || state == "Initialized") {
      state = "Suspended";
    }
    std::cout << Cell(params.transferId, 34)
              << Cell(params.partnerId + "/" + params.packageId + "/" + version, 24)
              << Cell(params.destPath.empty() ? "-" : params.destPath, 32) << Cell(done, 26)
              << state << "\n";
  }
  return 0;
}

// What a lock is held for, and by whom; the note other runs read when they
// find it busy.
std::string LockNote(const Options& options, const std::string& dest) {
  std::string note = "pid " + std::to_string(::getpid()) + ": velmo-fetch ";
  if (!options.resume.empty()) return note + "--resume " + options.resume;
  return note + "into " + dest;
}

// Takes one of the run's locks. 0 when it is held; otherwise the exit status,
// after saying why: another run holds it (and --wait was not given), the wait
// was interrupted, or the lock cannot be taken at all.
int TakeLock(velmo::FileLock& lock, const velmo::EngineSettings& settings, const Options& options,
             const std::string& name, const std::string& what, const std::string& note,
             Reporter& reporter) {
  std::string path;
  std::string detail;
  auto result = velmo::fetch::TakeFetchLock(lock, settings.transfersFolder, name, note, nullptr,
                                            path, detail);
  const std::string holder =
      detail.empty() ? std::string("a run that has not said who it is") : "'" + detail + "'";
  if (result == velmo::FileLock::Result::Busy && options.wait) {
    reporter.Say("waiting: " + what + " is in use by another run (" + holder + ")");
    result = velmo::fetch::TakeFetchLock(
        lock, settings.transfersFolder, name, note, [] { return !gInterrupted.load(); }, path,
        detail);
  }
  switch (result) {
    case velmo::FileLock::Result::Taken:
      return 0;
    case velmo::FileLock::Result::Busy:
      reporter.Say(what + " is in use by another run (" + holder +
                   "); wait for it to end, or give --wait");
      return kExitBusy;
    case velmo::FileLock::Result::Interrupted:
      reporter.Say("interrupted while waiting for " + what + "; nothing was changed");
      return kExitSuspended;
    case velmo::FileLock::Result::Failed:
      break;
  }
  reporter.Say("cannot take the lock of " + what + ": " + detail);
  return kExitErrorBase + static_cast<int>(velmo::TransferError::FileAccessError);
}

// The destination's lock key: the folder as the system resolves it, so that
// two spellings of one folder (a link, "..") share one lock.
std::string CanonicalFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::weakly_canonical(folder, error);
  if (error) path = std::filesystem::absolute(folder, error).lexically_normal();
  return path.string();
}

}  // namespace

int main(int argc, char** argv) {
  velmo::EngineSettings settings(velmo::ProcessorCount());
  const Options options = Parse(argc, argv, settings);

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  Reporter reporter(options.quiet, options.json);
  if (options.list) return List(settings);
  if (!options.discard.empty()) {
    // Never from under a run that is driving the transfer.
    velmo::FileLock lock;
    if (velmo::fetch::IsTransferIdText(options.discard)) {
      if (const int refused = TakeLock(
              lock, settings, options, velmo::fetch::TransferLockName(options.discard),
              "transfer " + options.discard,
              "pid " + std::to_string(::getpid()) + ": velmo-fetch --discard " + options.discard,
              reporter)) {
        return refused;
      }
    }
    std::string message;
    const bool found = velmo::fetch::DiscardStoredTransfer(
        settings.transfersFolder, options.discard, options.deleteFiles, message);
    if (!found) {
      std::cerr << "velmo-fetch: " << message << "\n";
      return kExitUnknownTransfer;
    }
    std::cerr << "velmo-fetch: discarded transfer " << options.discard
              << (message.empty() ? "" : "; " + message) << "\n";
    return 0;
  }

  FetchRecord record;
  std::string recordPath;
  std::string host = options.host;
  if (!options.resume.empty()) {
    recordPath = velmo::fetch::FetchRecordPath(settings.transfersFolder, options.resume);
    velmo::fetch::LoadFetchRecord(recordPath, record);
    // The host the transfer was started with, unless the command line names
    // another one (which then becomes the transfer's host).
    if (host.empty()) host = record.host;
  }
  if (host.empty()) host = velmo::build::kManifestHost;
  if (host.empty()) UsageError("no manifest host: give --host HOST[:PORT]");
  record.host = host;
  settings.manifestHost = host;
  settings.logMask = options.logMask;
  settings.trustedKeys = options.trustKeys;
  if (settings.trustedKeys.empty()) {
    reporter.Say("the package is not authenticated (no --trust-key given)");
  }

  // Held until the program ends: no other run may download into the folder
  // or drive the transfer meanwhile.
  velmo::FileLock destLock;
  velmo::FileLock transferLock;
  std::string id;
  int result = 0;
  bool recordSaved = true;
  bool retryableFailure = false;
  {
    velmo::TransferEngine engine(settings);
    if (options.resume.empty()) {
      std::error_code error;
      std::filesystem::create_directories(options.dest, error);
      if (error) {
        reporter.Say("cannot create the folder '" + options.dest + "': " + error.message());
        return kExitErrorBase + static_cast<int>(velmo::TransferError::FileAccessError);
      }
      const std::string dest = std::filesystem::absolute(options.dest, error).string();
      const std::string canonical = CanonicalFolder(dest);
      if (const int refused =
              TakeLock(destLock, settings, options, velmo::fetch::DestinationLockName(canonical),
                       "the folder '" + canonical + "'", LockNote(options, canonical), reporter)) {
        return refused;
      }
      const velmo::TransferStatus created =
          engine.CreateTransfer(options.partner, options.package, options.version);
      id = created.transferId;
      if (created.state == velmo::TransferState::Invalid) {
        reporter.Say("the engine could not create a transfer");
        return kExitErrorBase + static_cast<int>(velmo::TransferError::UnexpectedError);
      }
      if (!options.quiet && !options.json) reporter.Say("transfer " + id);
      // A new id: nobody else waits for it, but a --resume of it must find it
      // busy while this run drives it.
      if (const int refused = TakeLock(
              transferLock, settings, options, velmo::fetch::TransferLockName(id), "transfer " + id,
              LockNote(options, canonical) + " (transfer " + id + ")", reporter)) {
        return refused;
      }
      recordPath = velmo::fetch::FetchRecordPath(settings.transfersFolder, id);
      Run run{engine, id, dest, recordPath, record, reporter};
      result = Drive(run, options.version);
      recordSaved = run.recordSaved;
      retryableFailure = run.retryableFailure;
    } else {
      id = options.resume;
      if (!velmo::fetch::IsTransferIdText(id)) {
        reporter.Say("no suspended transfer '" + id + "' (see velmo-fetch --list)");
        return kExitUnknownTransfer;
      }
      if (const int refused =
              TakeLock(transferLock, settings, options, velmo::fetch::TransferLockName(id),
                       "transfer " + id, LockNote(options, std::string()), reporter)) {
        return refused;
      }
      std::string reason;
      const velmo::StoredDocument found =
          velmo::fetch::InspectStoredTransfer(settings.transfersFolder, id, reason);
      if (found == velmo::StoredDocument::OutOfMemory) {
        reporter.Say("the stored transfer " + id + " cannot be read now: out of memory");
        return kExitErrorBase + static_cast<int>(velmo::TransferError::OutOfMemory);
      }
      if (found == velmo::StoredDocument::Unreadable || found == velmo::StoredDocument::Unusable) {
        const std::string path = velmo::fetch::StoredTransferPath(settings.transfersFolder, id);
        // The engine sets a damaged document aside, which frees its id.
        if (found == velmo::StoredDocument::Unusable) {
          engine.GetTransferManager().Find(id, engine.GetBehavior());
        }
        reporter.Say("the stored transfer " + path + " cannot be read: " + reason +
                     (found == velmo::StoredDocument::Unusable
                          ? "; it was set aside beside it, and the files already in its folder "
                            "are kept by a new run into that folder"
                          : std::string()));
        return kExitUnreadableTransfer;
      }
      const auto transfer = found == velmo::StoredDocument::Loaded
                                ? engine.GetTransferManager().Find(id, engine.GetBehavior())
                                : nullptr;
      if (!transfer) {
        reporter.Say("no suspended transfer '" + id + "' (see velmo-fetch --list)");
        return kExitUnknownTransfer;
      }
      const std::string storedDest = transfer->GetStatus().destPath;
      if (!storedDest.empty()) {
        const std::string canonical = CanonicalFolder(storedDest);
        if (const int refused = TakeLock(
                destLock, settings, options, velmo::fetch::DestinationLockName(canonical),
                "the folder '" + canonical + "'", LockNote(options, canonical), reporter)) {
          return refused;
        }
      }
      const velmo::TransferStatus restored = transfer->Restore();
      if (restored.state != velmo::TransferState::Initializing) {
        reporter.Say("transfer '" + id + "' cannot be resumed (state " +
                     velmo::StateName(restored.state) + ")");
        return kExitCanceled;
      }
      if (!options.quiet && !options.json)
        reporter.Say("resuming transfer " + id + " from " + host);
      Run run{engine, id, std::string(), recordPath, record, reporter};
      run.stored = true;
      result = Drive(run, restored.versionId);
      recordSaved = run.recordSaved;
      retryableFailure = run.retryableFailure;
    }
    // Leaving the scope shuts the engine down, which suspends an unfinished
    // transfer and keeps its stored state for --resume.
  }
  // Only what the engine really kept can be resumed; a run that ended before
  // its transfer was stored leaves nothing behind and is simply run again.
  std::string reason;
  const bool stored = velmo::fetch::InspectStoredTransfer(settings.transfersFolder, id, reason) ==
                      velmo::StoredDocument::Loaded;
  if (!stored) {
    std::error_code ignored;
    std::filesystem::remove(recordPath, ignored);
  }
  const std::string resume =
      "velmo-fetch --resume " + id + (recordSaved ? std::string() : " --host " + host);
  if (result == kExitSuspended) {
    if (stored) {
      std::cerr << "velmo-fetch: suspended transfer " << id << "\n"
                << "resume with: " << resume << "\n";
      if (!options.json) std::cout << id << "\n";
    } else {
      std::cerr << "velmo-fetch: interrupted before the transfer was stored; run the same "
                   "command again\n";
    }
  } else if (retryableFailure) {
    std::cerr << (stored ? "velmo-fetch: the error may pass; resume later with: " + resume
                         : std::string("velmo-fetch: the error may pass; the transfer was not "
                                       "stored, so run the same command again later"))
              << "\n";
  }
  return result;
}
