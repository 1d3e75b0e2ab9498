// velmo-publish: publishes packages and node lists in the layout Velmo's
// engine downloads from.
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "Publisher.h"
#include "velmo/manifest/ManifestTrust.h"

namespace {

const char kUsage[] =
    "Usage: velmo-publish <command> [options]\n"
    "\n"
    "Publishes packages for Velmo into a TREE that a web server serves as the\n"
    "manifest host and as download nodes:\n"
    "  TREE/manifests/<package>/<version>.xml   package manifest\n"
    "  TREE/manifests/<package>/current.xml     the current version's manifest\n"
    "  TREE/nodes/<partner>.xml                 node list of a partner\n"
    "  <document>.sig                           its signature, when signed\n"
    "  TREE/packages/<partner>/<package>/<version>/<path>   the files\n"
    "\n"
    "Commands:\n"
    "  package   publish a folder as one version of a package\n"
    "  nodes     publish the node list of a partner\n"
    "  keygen    make a key pair for signing manifests and node lists\n"
    "\n"
    "Run 'velmo-publish <command> --help' for the options of a command, and\n"
    "'velmo-publish --version' for the program's version.\n"
    "\n"
    "Errors name the file or option and the reason; the exit status is 0 on\n"
    "success, 1 when publishing failed and 2 for a bad command line.\n";

const char kPackageUsage[] =
    "Usage: velmo-publish package --partner ID --package ID --version ID --name NAME\n"
    "                             [--run PATH] [--chunk-size BYTES] [--no-current]\n"
    "                             [--sign-key FILE [--expires WHEN]]\n"
    "                             --out TREE SOURCE_DIR\n"
    "\n"
    "Publishes every regular file below SOURCE_DIR (recursively) as version ID of\n"
    "the package. Each file is cut into chunks of --chunk-size bytes (default\n"
    "1048576) and the CRC-32 of every chunk goes into the manifest; the engine\n"
    "verifies each downloaded chunk against it.\n"
    "\n"
    "  --partner ID      partner the package belongs to\n"
    "  --package ID      package identifier\n"
    "  --version ID      version identifier ('current' is reserved)\n"
    "  --name NAME       display name of the package\n"
    "  --run PATH        file started after the download (relative to SOURCE_DIR);\n"
    "                    it is made executable when downloaded\n"
    "  --chunk-size N    chunk size in bytes, 1 to 4294967295\n"
    "  --no-current      do not make this version the current one\n"
    "  --out TREE        output tree\n"
    "  --sign-key FILE   sign each manifest with the private key in FILE (see\n"
    "                    'velmo-publish keygen'): <manifest>.sig beside it\n"
    "  --expires WHEN    signed manifests expire after <N>d days or <N>h hours, or\n"
    "                    at YYYY-MM-DDTHH:MM:SSZ (default 30d); publish again\n"
    "                    before then to renew\n"
    "\n"
    "Files are hard-linked into the tree when it is on the same file system, else\n"
    "copied; a hard-linked file shares its content with the source, so replace\n"
    "source files (write a new file and rename it) rather than editing them in\n"
    "place once published. Symbolic links, devices and names the engine would\n"
    "refuse are errors.\n"
    "A published version is immutable: publishing it again with other content is\n"
    "refused. Manifests are written atomically (temporary name, then rename).\n";

const char kNodesUsage[] =
    "Usage: velmo-publish nodes --partner ID --out TREE --node SPEC [--node SPEC ...]\n"
    "                           [--sign-key FILE [--expires WHEN]]\n"
    "\n"
    "Writes TREE/nodes/<partner>.xml, the download nodes of the partner's packages.\n"
    "\n"
    "  --node ID=HOST[:PORT][,path=/packages/][,weight=N]\n"
    "        a node: its identifier, the host (and port) chunk requests go to, the\n"
    "        path prefix of the package files there (default /packages/), and its\n"
    "        relative share of requests (default 1; 0 takes it out of rotation)\n"
    "  --sign-key FILE, --expires WHEN\n"
    "        sign the node list (nodes/<partner>.xml.sig), as for 'package'\n";

const char kKeygenUsage[] =
    "Usage: velmo-publish keygen --out FILE\n"
    "\n"
    "Writes a new Ed25519 key pair: the private key to FILE (mode 0600; keep it\n"
    "secret, it signs with --sign-key) and the public key to FILE.pub, one line\n"
    "of base64. Give the public key to the programs that download: velmo-fetch\n"
    "--trust-key KEY, or signingKeys= in the branding file. Existing files are\n"
    "never replaced.\n";

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The signing options of --sign-key and --expires; unsigned without a key.
velmo::publish::SignOptions SignOptionsOf(const std::string& keyFile, const std::string& expires) {
  velmo::publish::SignOptions sign;
  if (keyFile.empty()) {
    if (!expires.empty()) throw velmo::publish::PublishError("--expires: needs --sign-key");
    return sign;
  }
  sign.privateKey = velmo::publish::ReadPrivateKey(keyFile);
  const std::int64_t now = Now();
  sign.expires = expires.empty() ? now + velmo::publish::kDefaultExpirySeconds
                                 : velmo::publish::ParseExpiresOption(expires, now);
  return sign;
}

bool TakeValue(std::vector<std::string>& args, std::size_t& i, std::string& out) {
  if (i + 1 >= args.size()) {
    std::cerr << "velmo-publish: " << args[i] << " needs a value\n";
    return false;
  }
  out = args[++i];
  return true;
}

int Package(std::vector<std::string> args) {
  velmo::publish::PackageOptions o;
  std::string chunk;
  std::string keyFile;
  std::string expires;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool ok = true;
    if (a == "--help" || a == "-h") {
      std::cout << kPackageUsage;
      return 0;
    } else if (a == "--partner") {
      ok = TakeValue(args, i, o.partnerId);
    } else if (a == "--package") {
      ok = TakeValue(args, i, o.packageId);
    } else if (a == "--version") {
      ok = TakeValue(args, i, o.versionId);
    } else if (a == "--name") {
      ok = TakeValue(args, i, o.name);
    } else if (a == "--run") {
      ok = TakeValue(args, i, o.run);
    } else if (a == "--chunk-size") {
      ok = TakeValue(args, i, chunk);
    } else if (a == "--out") {
      ok = TakeValue(args, i, o.tree);
    } else if (a == "--sign-key") {
      ok = TakeValue(args, i, keyFile);
    } else if (a == "--expires") {
      ok = TakeValue(args, i, expires);
    } else if (a == "--no-current") {
      o.updateCurrent = false;
    } else if (!a.empty() && a[0] == '-') {
      std::cerr << "velmo-publish package: unknown option " << a << "\n" << kPackageUsage;
      return 2;
    } else if (o.source.empty()) {
      o.source = a;
    } else {
      std::cerr << "velmo-publish package: more than one SOURCE_DIR given\n";
      return 2;
    }
    if (!ok) return 2;
  }
  if (!chunk.empty()) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(chunk.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || chunk[0] == '-' || v == 0 ||
        v > std::numeric_limits<std::uint32_t>::max()) {
      std::cerr << "velmo-publish package: --chunk-size must be a number from 1 to 4294967295\n";
      return 2;
    }
    o.chunkSize = static_cast<std::uint32_t>(v);
  }
  if (o.source.empty()) {
    std::cerr << "velmo-publish package: SOURCE_DIR missing\n" << kPackageUsage;
    return 2;
  }
  o.sign = SignOptionsOf(keyFile, expires);
  auto result = velmo::publish::PublishPackage(o);
  std::uint64_t bytes = 0;
  for (const auto& f : result.files) bytes += f.size;
  std::cout << "published " << o.packageId << " " << o.versionId << ": " << result.files.size()
            << " files, " << bytes << " bytes (" << result.linkedFiles << " linked, "
            << result.copiedFiles << " copied)\nmanifest: " << o.tree << "/" << result.manifestPath
            << "\n";
  if (o.sign.Enabled())
    std::cout << "signed, expires " << velmo::FormatExpiryTime(o.sign.expires) << "\n";
  return 0;
}

int Nodes(std::vector<std::string> args) {
  std::string partner;
  std::string tree;
  std::vector<velmo::publish::NodeSpec> nodes;
  std::string keyFile;
  std::string expires;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string value;
    if (a == "--help" || a == "-h") {
      std::cout << kNodesUsage;
      return 0;
    } else if (a == "--partner") {
      if (!TakeValue(args, i, partner)) return 2;
    } else if (a == "--out") {
      if (!TakeValue(args, i, tree)) return 2;
    } else if (a == "--node") {
      if (!TakeValue(args, i, value)) return 2;
      nodes.push_back(velmo::publish::ParseNodeSpec(value));
    } else if (a == "--sign-key") {
      if (!TakeValue(args, i, keyFile)) return 2;
    } else if (a == "--expires") {
      if (!TakeValue(args, i, expires)) return 2;
    } else {
      std::cerr << "velmo-publish nodes: unknown argument " << a << "\n" << kNodesUsage;
      return 2;
    }
  }
  const velmo::publish::SignOptions sign = SignOptionsOf(keyFile, expires);
  std::string path = velmo::publish::PublishNodes(tree, partner, nodes, sign);
  std::cout << "node list: " << tree << "/" << path << " (" << nodes.size() << " nodes)\n";
  if (sign.Enabled())
    std::cout << "signed, expires " << velmo::FormatExpiryTime(sign.expires) << "\n";
  return 0;
}

int Keygen(std::vector<std::string> args) {
  std::string out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::cout << kKeygenUsage;
      return 0;
    } else if (args[i] == "--out") {
      if (!TakeValue(args, i, out)) return 2;
    } else {
      std::cerr << "velmo-publish keygen: unknown argument " << args[i] << "\n" << kKeygenUsage;
      return 2;
    }
  }
  if (out.empty()) {
    std::cerr << "velmo-publish keygen: --out FILE missing\n" << kKeygenUsage;
    return 2;
  }
  const std::string publicKey = velmo::publish::WriteKeyPair(out);
  std::cout << "private key: " << out << "\npublic key: " << out << ".pub\n" << publicKey << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << kUsage;
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    std::cout << "velmo-publish " << VELMO_VERSION << "\n";
    return 0;
  }
  std::string command = args[0];
  args.erase(args.begin());
  try {
    if (command == "package") return Package(args);
    if (command == "nodes") return Nodes(args);
    if (command == "keygen") return Keygen(args);
  } catch (const velmo::publish::PublishError& e) {
    std::cerr << "velmo-publish " << command << ": " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "velmo-publish " << command << ": " << e.what() << "\n";
    return 1;
  }
  std::cerr << "velmo-publish: unknown command '" << command << "'\n" << kUsage;
  return 2;
}
