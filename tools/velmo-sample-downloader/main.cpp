// velmo-sample-downloader: the program the demo publishes as its downloader
// package. The bootstrapper downloads it, starts it with its launch
// parameters and waits for it; it shows what it received and exits 0.
//
// With VELMO_SAMPLE_RECORD set to a file path, it also writes one argument per
// line there, so tests and the demo can check the parameters exactly.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::cout << "Velmo sample downloader started from " << argv[0] << "\n"
            << "It received " << args.size() << " arguments:\n";
  for (std::size_t i = 0; i < args.size(); ++i) {
    // Flags and their values come in pairs: "/package" "value".
    if (!args[i].empty() && args[i][0] == '/' && i + 1 < args.size()) {
      std::cout << "  " << args[i] << " = \"" << args[i + 1] << "\"\n";
      ++i;
    } else {
      std::cout << "  \"" << args[i] << "\"\n";
    }
  }
  if (const char* record = std::getenv("VELMO_SAMPLE_RECORD")) {
    std::ofstream out(record, std::ios::binary | std::ios::trunc);
    for (const std::string& arg : args) out << arg << '\n';
    if (!out) {
      std::cerr << "velmo-sample-downloader: cannot write " << record << "\n";
      return 1;
    }
  }
  return 0;
}
