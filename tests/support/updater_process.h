#pragma once

#include "support/kit_folders.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <functional>

#ifndef _WIN32
#include <signal.h>
#endif

// The built updater as administrators run it: a separate process on a kit, without any display.

struct UpdaterRun {
    int exitCode = -1; // -1: killed, crashed or not finished within a minute
    QStringList out;   // standard output: the log lines
    QStringList err;   // standard error: the message boxes, without empty lines
};

// The updater's copy in the kit's updater folder, where it finds "res" beside itself.
inline QString updaterProgram(const KitFolders& kit) {
    const QString target = kit.updaterFolder + QStringLiteral("update_3_7");
    if (!QFileInfo::exists(target))
        QFile::copy(QStringLiteral(UPDATE_3_7_BINARY), target);
    return target;
}

// No display, the kit's registry file, and the kit's root as the runtime folder (for the update lock).
inline QProcessEnvironment updaterEnvironment(const KitFolders& kit) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("KVARNEL_REGISTRY"), kit.registryPath);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), kit.root);
    return env;
}

// Starts the updater on the kit; `adjust` may change the process (environment, child set-up) first.
inline void startUpdater(QProcess& process, const KitFolders& kit,
                         const QStringList& args = {QStringLiteral("--silent")},
                         const std::function<void(QProcess&)>& adjust = {}) {
    process.setProcessEnvironment(updaterEnvironment(kit));
    process.setWorkingDirectory(kit.root);
    if (adjust)
        adjust(process);
    process.start(updaterProgram(kit), args);
}

// Waits for a started updater (a minute at most) and collects what it wrote.
#ifndef _WIN32
// Sends `signal` to the updater while it runs. A finished process has the id 0, and kill(0, ...)
// would signal the whole process group: the test itself and whatever runs the tests.
inline bool signalUpdater(const QProcess& process, int signal) {
    const pid_t pid = pid_t(process.processId());
    return pid > 0 && ::kill(pid, signal) == 0;
}
#endif

inline UpdaterRun finishUpdater(QProcess& process) {
    UpdaterRun result;
    const bool finished = process.waitForFinished(60000);
    if (finished && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
    result.err = QString::fromUtf8(process.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    if (!result.out.isEmpty() && result.out.last().isEmpty())
        result.out.removeLast();
    return result;
}

inline UpdaterRun runUpdater(const KitFolders& kit, const QStringList& args = {QStringLiteral("--silent")},
                             const std::function<void(QProcess&)>& adjust = {}) {
    QProcess process;
    startUpdater(process, kit, args, adjust);
    return finishUpdater(process);
}
