#pragma once

#include <string>
#include <vector>

namespace velmo {

class DialogView;
class StringTable;
struct EngineSettings;

// The bootstrapper's whole run: settings from the string table and the
// command line (`args`, the program's path first), the engine, the transfer
// monitor and the dialog shown in `view`; then the teardown. Returns 0 in
// every case: every failure has been shown to the user already.
int RunBootstrap(const std::vector<std::string>& args, const StringTable& table, DialogView& view);

}  // namespace velmo
