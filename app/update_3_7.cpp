// The updater's entry: the data module, the main window and the About window, then the event loop.

#include "app/DataModule.h"
#include "app/about.h"
#include "app/main.h"
#include "app/qt_dialogs.h"
#include "platform/network_state.h"
#include "platform/paths.h"
#include "platform/registry.h"

#include <QApplication>

#include <cstdio>

namespace {

bool displayAvailable() {
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

} // namespace

int main(int argc, char* argv[]) {
    if (!displayAvailable()) {
        std::fputs("update_3_7: the window needs a display (X11 or Wayland).\n", stderr);
        return 2;
    }
    // Taken before anything can change the current directory.
    const QString registryFile = defaultRegistryFilePath();

    QApplication application(argc, argv);
    const std::unique_ptr<Registry> registry = openUserRegistry(registryFile);
    QtDialogs dialogs;
    SystemNetworkState networkState;

    Seams seams;
    seams.dialogs = &dialogs;
    seams.registry = registry.get();
    seams.updaterFolder = paths::executableFolder();
    seams.networkState = &networkState;

    const TDM DM;
    TfmMain fmMain(DM, seams);
    dialogs.setOwner(&fmMain);
    TfmAbout fmAbout(DM);
    fmMain.setAboutWindow(&fmAbout);

    fmMain.showMaximized();
    return application.exec();
}
