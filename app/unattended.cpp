#include "app/unattended.h"

#include "app/main.h"
#include "app/session_log.h"

#include <cstdio>

int runUnattended(TfmMain& window) {
    QObject::connect(&window, &TfmMain::logLineAdded, [](const QString& line) {
        const QByteArray bytes = (oneLine(line) + u'\n').toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    });
    window.handle([&] { window.FormShow(); });
    window.handle([&] { window.Button3Click(nullptr); });
    switch (window.lastUpdateOutcome()) {
    case UpdateOutcome::Succeeded:
        return exitstatus::success;
    case UpdateOutcome::CheckFailed:
        return exitstatus::checkFailed;
    case UpdateOutcome::ExtractionFailed:
        return exitstatus::extractionFailed;
    case UpdateOutcome::RegistryFailed:
        return exitstatus::registryFailed;
    case UpdateOutcome::AlreadyRunning:
        return exitstatus::alreadyRunning;
    case UpdateOutcome::NotRun:
        break;
    }
    return exitstatus::error;
}
