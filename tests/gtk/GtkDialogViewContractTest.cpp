// The GTK view under the dialog view contract (tests/app/DialogViewContract.h).
// Needs a display: under xvfb-run it runs, without one each case skips.
#include <gtk/gtk.h>

#include <memory>

#include "app/DialogViewContract.h"
#include "velmo/app/GtkDialogView.h"

namespace velmo::test {
namespace {

class GtkKind {
 public:
  static bool Available() {
    static const bool display = [] {
      int argc = 0;
      return gtk_init_check(&argc, nullptr) != 0;
    }();
    return display;
  }
  DialogView& View() { return view_; }

 private:
  GtkDialogView view_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Gtk, DialogViewContractTest, GtkKind);

}  // namespace
}  // namespace velmo::test
