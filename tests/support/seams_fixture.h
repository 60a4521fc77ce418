#pragma once

#include "registry/registry.h"
#include "registry/registry_file.h"
#include "seams/error_boundary.h"
#include "support/kit_folders.h"
#include "support/recording_dialogs.h"
#include "support/recording_seams.h"

#include <QStringList>

#include <functional>
#include <memory>

// The seams a subsystem reaches the window through, for a test that makes no window: a registry
// file and an updater folder of its own, a recording log, recorded dialogs, the window's controls as
// the form starts them and a recording event queue.
struct SeamsFixture : KitFolders {
    struct Seams {
        registry::Registry* registry = nullptr;
        QString updaterFolder;
    };

    // `adjustSeams` changes the seams before the subsystem is made.
    explicit SeamsFixture(const QString& registryBody = QString(),
                          const std::function<void(Seams&)>& adjustSeams = {})
        : KitFolders(registryBody) {
        registry = std::make_unique<registry::RegistryFile>(registryPath);
        seams.registry = registry.get();
        seams.updaterFolder = updaterFolder;
        if (adjustSeams)
            adjustSeams(seams);
    }

    QStringList log() const { return activity.lines; }

    // Runs `handler` as the window runs a command: one registry operation, and an error that escapes
    // shown in the standard error box.
    void handle(const std::function<void()>& handler) {
        const registry::RegistryOperation registryOperation(seams.registry);
        seams::showingErrors(dialogs, handler);
    }

    RecordingDialogs dialogs;
    RecordingLog activity;
    RecordingControls controls;
    RecordingQueue queue;
    std::unique_ptr<registry::RegistryFile> registry;
    Seams seams;
};
