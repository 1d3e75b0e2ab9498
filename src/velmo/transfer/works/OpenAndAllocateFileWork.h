#pragma once

#include <memory>

#include "velmo/transfer/TransferWork.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

class SharedFile;
class TransferSharedFileData;

// Opens the destination file and gives it its final size. A file that already
// has that size is reused as it is (its chunks are verified, not refetched); a
// file of another size is deleted and created again. A new program file is
// kept from running until the whole package is in.
class OpenAndAllocateFileWork : public TransferWork, public SimpleWork {
 public:
  OpenAndAllocateFileWork(std::shared_ptr<TransferWorkInterface> workInterface,
                          std::shared_ptr<TransferSharedFileData> file);
  void Describe(boost::property_tree::ptree& out) const override;
  WorkStatus ExecuteTask() override;
  void OnInterrupt() override {}
  void Reset() override;

 private:
  std::shared_ptr<SharedFile> OpenAndAllocate(bool allowRetry);

  std::shared_ptr<TransferSharedFileData> file_;
};

// True for a file that is started as a program: by its name, or because it is
// the package's run file.
bool IsProgramFile(TransferWorkInterface& workInterface, const std::string& relativePath);

}  // namespace velmo
