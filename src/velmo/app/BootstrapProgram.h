#pragma once

#include <string>
#include <vector>

namespace velmo {

class BootstrapSettings;
class DialogView;
class StringTable;
struct EngineSettings;

// Makes (mode 0700) and checks every folder the run uses below the user's
// temporary folder: false when one cannot be made or is not the user's alone
// (MakePrivateFolders), and then nothing may be downloaded.
bool PrepareFolders(const BootstrapSettings& settings, const EngineSettings& engineSettings);

// The bootstrapper's whole run: settings from the string table and the
// command line (`args`, the program's path first), the engine, the transfer
// monitor and the dialog shown in `view`; then the teardown. Returns 0 once
// the dialog has run, whatever became of the download (every failure has been
// shown in it already), also when a folder check stopped the download. Returns
// 1 when the run could not go on (the engine, the monitor or the dialog could
// not be set up, or an exception ended the run), after a message in the
// window's words.
int RunBootstrap(const std::vector<std::string>& args, const StringTable& table, DialogView& view);

}  // namespace velmo
