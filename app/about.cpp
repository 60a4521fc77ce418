#include "app/about.h"

#include "app/version_data.h"
#include "ui_about.h"

#include <QGuiApplication>
#include <QScreen>

TfmAbout::TfmAbout(const TDM& dm, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowCloseButtonHint | Qt::WindowTitleHint)
    , ui(new Ui::TfmAbout)
    , m_dm(dm) {
    ui->setupUi(this);
    // The About window never keeps the program alive once the main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    connect(ui->Button1, &QPushButton::clicked, this, &TfmAbout::Button1Click);
    FormCreate();
}

TfmAbout::~TfmAbout() = default;

void TfmAbout::FormCreate() {
    ui->lblUpdateDate->setText(QStringLiteral("Обновление от 10.03.2022"));
    ui->lblProgrammType->setText(m_dm.ProgrammName());
}

void TfmAbout::Button1Click() {
    close();
}

void TfmAbout::showAndRaise() {
    if (!m_placed) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        m_placed = true;
    }
    show();
    raise();
    activateWindow();
}
