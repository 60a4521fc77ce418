#pragma once

#include "app/about.h"
#include "app/main.h"
#include "app/version_data.h"
#include "registry/registry.h"
#include "support/kit_folders.h"
#include "support/recording_dialogs.h"
#include "ui_main.h"

#include <QDir>
#include <QListWidget>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// A main window on the kit's registry and an updater folder of its own, with recorded dialogs.
struct WindowFixture : KitFolders {
    // `adjustSeams` changes the seams before the window is made.
    explicit WindowFixture(const QString& registryBody = QString(),
                           const std::function<void(Seams&)>& adjustSeams = {})
        : KitFolders(registryBody) {
        registry = registry::openUserRegistry(registryPath);
        seams.dialogs = &dialogs;
        seams.registry = registry.get();
        seams.updaterFolder = updaterFolder;
        if (adjustSeams)
            adjustSeams(seams);
        window = std::make_unique<TfmMain>(dm, seams);
        about = std::make_unique<TfmAbout>(dm);
        window->setAboutWindow(about.get());
    }

    Ui::TfmMain& ui() { return window->form(); }

    QStringList log() {
        QStringList lines;
        for (int i = 0; i < ui().ListBox1->count(); ++i)
            lines.append(ui().ListBox1->item(i)->text());
        return lines;
    }
    int selectedRow() {
        const QList<QListWidgetItem*> selected = ui().ListBox1->selectedItems();
        return selected.size() == 1 ? ui().ListBox1->row(selected.first()) : -1;
    }
    // A log line as the window has just added it, marked "A " when it became the selected row and "P "
    // when the selection stayed where it was.
    QString markedBySelection(const QString& line) {
        const bool selected = selectedRow() == ui().ListBox1->count() - 1;
        return (selected ? QStringLiteral("A ") : QStringLiteral("P ")) + line;
    }

    RecordingDialogs dialogs;
    std::unique_ptr<registry::Registry> registry;
    Seams seams;
    TDM dm;
    std::unique_ptr<TfmMain> window;
    std::unique_ptr<TfmAbout> about;
};
