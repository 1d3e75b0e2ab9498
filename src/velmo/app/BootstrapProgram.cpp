#include "velmo/app/BootstrapProgram.h"

#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>

#include "velmo/app/BootstrapSettings.h"
#include "velmo/app/Dialog.h"
#include "velmo/app/i18n/CustomBoostLocale.h"
#include "velmo/app/i18n/EmbeddedMessageCatalog.h"
#include "velmo/app/i18n/LanguageTable.h"
#include "velmo/app/i18n/Messages.h"
#include "velmo/engine/TransferEngine.h"
#include "velmo/platform/PrivateFolder.h"
#include "velmo/platform/System.h"
#include "velmo/transfer/TransferMonitorImpl.h"

namespace velmo {

bool PrepareFolders(const BootstrapSettings& settings, const EngineSettings& engineSettings) {
  // Every folder below the temporary folder that the bootstrapper or its
  // engine writes to: the work folder (the program is started from there),
  // the stored transfers and the work log. One that another user could
  // write in, or a link in place of one, stops everything before a byte is
  // downloaded.
  const std::string temp = UserTempFolder();
  try {
    MakePrivateFolders(temp, settings.GetServiceSubfolder());
    for (const std::string& relative :
         {engineSettings.transfersFolder, engineSettings.logsFolder}) {
      if (!relative.empty() && relative.front() != '/') MakePrivateFolders(temp, relative);
    }
  } catch (const UnsafeFolderError&) {
    return false;
  }
  return true;
}

int RunBootstrap(const std::vector<std::string>& args, const StringTable& table, DialogView& view) {
  const BootstrapSettings settings(table, args);
  const EngineSettings engineSettings =
      DeriveEngineSettings(settings, EngineSettings(ProcessorCount()));
  EmbeddedMessageCatalog catalog("updater");
  AddLanguageTable(catalog);
  CustomBoostLocale locale(catalog, std::string());
  if (!settings.GetLanguages().empty()) locale.SetLanguage(settings.InitialLanguage());
  try {
    // Declared in this order so that the monitor (which polls the engine) is
    // stopped first, and the engine - which suspends or cancels every
    // transfer and joins its threads - goes next.
    TransferEngine engine(engineSettings);
    TransferMonitorImpl monitor(&engine);
    monitor.Start();
    Dialog& dialog = Dialog::CreateSingleton(view, engine, monitor, locale, settings);
    if (PrepareFolders(settings, engineSettings)) {
      dialog.Run();
    } else {
      dialog.ShowError(Dialog::ErrorText(TransferError::FileAccessError));
    }
  } catch (const std::exception&) {
    // The engine could not be built (no thread, no memory): say so in the
    // window's words rather than end without a word.
    Dialog::DestroySingleton();
    view.ShowMessage(locale.Translate(messages::UnexpectedError()),
                     Dialog::ErrorCaption(locale, settings));
    return 1;
  }
  Dialog::DestroySingleton();
  return 0;
}

}  // namespace velmo
