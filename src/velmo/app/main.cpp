// velmo-bootstrap: downloads the downloader program and its skin, then starts
// the program and waits for it. A GTK window when a display can be opened
// (VELMO_CONSOLE=1 forces the console), the console otherwise.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "velmo/app/BootstrapProgram.h"
#include "velmo/app/ConsoleDialogView.h"
#include "velmo/app/EmbeddedStringTable.h"
#include "velmo/platform/System.h"

#if VELMO_HAVE_GTK
#include <gtk/gtk.h>

#include "velmo/app/GtkDialogView.h"
#endif

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  if (argc == 2 && (args[1] == "--version" || args[1] == "-V")) {
    std::cout << "velmo-bootstrap " << VELMO_VERSION << "\n";
    return 0;
  }
  const velmo::EmbeddedStringTable table;
#if VELMO_HAVE_GTK
  if (velmo::EnvironmentValue("VELMO_CONSOLE") != std::optional<std::string>("1") &&
      gtk_init_check(&argc, &argv)) {
    velmo::GtkDialogView view;
    return velmo::RunBootstrap(args, table, view);
  }
#endif
  // Ctrl-C and SIGTERM close the console dialog like a window's close box,
  // so the transfers are suspended and the work log written before the end.
  velmo::ConsoleDialogView::CloseOnInterrupt();
  velmo::ConsoleDialogView view;
  return velmo::RunBootstrap(args, table, view);
}
