// The console view under the dialog view contract (DialogViewContract.h);
// the GTK view runs the same suite in tests/gtk.
#include <cstdio>
#include <memory>

#include "DialogViewContract.h"
#include "velmo/app/ConsoleDialogView.h"

namespace velmo::test {
namespace {

// A console view on temporary files: no terminal, so no prompt waits.
class ConsoleKind {
 public:
  static bool Available() { return true; }
  ConsoleKind() : view_(in_, out_, err_) {}
  ~ConsoleKind() {
    for (std::FILE* f : {in_, out_, err_}) std::fclose(f);
  }
  ConsoleKind(const ConsoleKind&) = delete;
  ConsoleKind& operator=(const ConsoleKind&) = delete;
  DialogView& View() { return view_; }

 private:
  std::FILE* in_ = std::tmpfile();
  std::FILE* out_ = std::tmpfile();
  std::FILE* err_ = std::tmpfile();
  ConsoleDialogView view_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Console, DialogViewContractTest, ConsoleKind);

}  // namespace
}  // namespace velmo::test
