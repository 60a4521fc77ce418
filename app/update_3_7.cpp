// The updater's entry: the data module, the main window and the About window, then the event loop;
// or, with --silent, the update command once without a window.

#include "app/DataModule.h"
#include "app/about.h"
#include "app/console_dialogs.h"
#include "app/main.h"
#include "app/qt_dialogs.h"
#include "app/session_log.h"
#include "app/unattended.h"
#include "platform/network_state.h"
#include "platform/paths.h"
#include "platform/registry.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

bool hasArgument(int argc, char* argv[], std::initializer_list<const char*> names) {
    for (int i = 1; i < argc; ++i)
        for (const char* name : names)
            if (std::strcmp(argv[i], name) == 0)
                return true;
    return false;
}

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
    // Without a window to show, Qt's offscreen platform keeps every path the window's and needs no
    // display. It must be chosen before the application object exists.
    const bool silent = hasArgument(argc, argv, {"--silent"});
    const bool helpOnly = hasArgument(argc, argv, {"--help", "-h", "-?", "--help-all", "--version", "-v"});
    if ((silent || helpOnly) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!silent && !helpOnly && !displayAvailable()) {
        std::fputs(
            "update_3_7: the window needs a display (X11 or Wayland); use --silent to update without one.\n",
            stderr);
        return exitstatus::usage;
    }
    // Taken before anything can change the current directory.
    const QString registryFile = defaultRegistryFilePath();

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("update_3_7"));
    QApplication::setApplicationVersion(QStringLiteral("3.7"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Updates «Сорвентия» of an installed «Кварнель» kit to version 3.7."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption silentOption(
        QStringLiteral("silent"), QStringLiteral("Update without a window: the log goes to standard output, "
                                                 "message boxes to standard error."));
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("Append every log line and message box, with a timestamp, to <file>."),
        QStringLiteral("file"));
    parser.addOption(silentOption);
    parser.addOption(logOption);
    parser.process(application);

    std::optional<SessionLog> sessionLog;
    try {
        if (parser.isSet(logOption))
            sessionLog.emplace(QFileInfo(parser.value(logOption)).absoluteFilePath());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "update_3_7: %s\n", error.what());
        return exitstatus::usage;
    }

    const std::unique_ptr<Registry> registry = openUserRegistry(registryFile);
    QtDialogs windowDialogs;
    ConsoleDialogs consoleDialogs;
    Dialogs& shownDialogs = silent ? static_cast<Dialogs&>(consoleDialogs) : windowDialogs;
    std::optional<LoggedDialogs> loggedDialogs;
    if (sessionLog)
        loggedDialogs.emplace(shownDialogs, *sessionLog);
    SystemNetworkState networkState;

    Seams seams;
    seams.dialogs = loggedDialogs ? static_cast<Dialogs*>(&*loggedDialogs) : &shownDialogs;
    seams.registry = registry.get();
    seams.updaterFolder = paths::executableFolder();
    seams.networkState = &networkState;

    const TDM DM;
    TfmMain fmMain(DM, seams);
    windowDialogs.setOwner(&fmMain);
    if (sessionLog)
        QObject::connect(&fmMain, &TfmMain::logLineAdded,
                         [&](const QString& line) { sessionLog->line(line); });
    TfmAbout fmAbout(DM);
    fmMain.setAboutWindow(&fmAbout);

    if (silent)
        return runUnattended(fmMain);
    fmMain.showMaximized();
    return application.exec();
}
