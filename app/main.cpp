#include "app/main.h"

#include "app/about.h"
#include "app/empty_range_bar.h"
#include "app/transfer_input_block.h"
#include "app/version_data.h"
#include "base/error.h"
#include "filesystem/paths.h"
#include "registry/registry.h"
#include "seams/dialogs.h"
#include "seams/error_boundary.h"
#include "ui_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>

using base::Error;
using registry::RegistryOperation;

TfmMain::TfmMain(const TDM& dm, const Seams& seams, QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::TfmMain)
    , m_dm(dm)
    , m_seams(seams)
    , m_logFrame(new QTimer(this))
    , m_database({.log = *this,
                  .dialogs = *seams.dialogs,
                  .registry = seams.registry,
                  .updaterFolder = seams.updaterFolder,
                  .controls = *this})
    , m_files(seams.updaterFolder, *this)
    , m_download({.dialogs = *seams.dialogs,
                  .networkState = seams.networkState,
                  .server = seams.downloadServer,
                  .controls = *this,
                  .queue = *this}) {
    ui->setupUi(this);
    m_logFrame->setSingleShot(true);
    connect(m_logFrame, &QTimer::timeout, this, &TfmMain::showLogFrame);
    ui->ListBox1->installEventFilter(this);
    // The form's size is the client area below the menu bar, whose height is known once polished.
    menuBar()->ensurePolished();
    resize(width(), height() + menuBar()->heightForWidth(width()));
    showEmptyRangeAsEmptyBar(ui->ProgressBar1);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    connectHandlers();
    handle([this] { FormCreate(); });
}

TfmMain::~TfmMain() = default;

void TfmMain::setAboutWindow(TfmAbout* about) {
    m_about = about;
    if (about)
        about->setParent(this, about->windowFlags() | Qt::Tool);
}

void TfmMain::connectHandlers() {
    const auto bind = [this](auto* sender, auto signal, void (TfmMain::*handler)()) {
        connect(sender, signal, this, [this, handler] { handle([this, handler] { (this->*handler)(); }); });
    };
    bind(ui->Button1, &QPushButton::clicked, &TfmMain::Button1Click);
    bind(ui->N6, &QAction::triggered, &TfmMain::N6Click);
    bind(ui->N3, &QAction::triggered, &TfmMain::N3Click);
    bind(ui->N2, &QAction::triggered, &TfmMain::N2Click);
    connect(ui->Button3, &QPushButton::clicked, this,
            [this] { handle([this] { Button3Click(ui->Button3); }); });
    Archiver.setEvents(
        {[this](const QString& name) { ArchiverExtractFile(name); },
         [this](const QString& name, double progress) { ArchiverFileProgress(name, progress); },
         [this](double progress) { ArchiverOverallProgress(progress); }});
    bind(ui->Button4, &QPushButton::clicked, &TfmMain::Button4Click);
    bind(ui->Button5, &QPushButton::clicked, &TfmMain::Button5Click);
    bind(ui->Button2, &QPushButton::clicked, &TfmMain::Button2Click);
}

void TfmMain::handle(const std::function<void()>& handler) {
    // One handler is one operation on the registry: its reads share one reading of it.
    const RegistryOperation registryOperation(m_seams.registry);
    seams::showingErrors(*m_seams.dialogs, handler);
}

void TfmMain::FormCreate() {
    ui->lblUpdate->setText(QStringLiteral("(До версии ") + m_dm.Programm_version() + u')');
    ui->lblProgrammName->setText(u'«' + m_dm.ProgrammName() + u'»');
}

void TfmMain::FormShow() {
    const QString path = m_seams.registry->readString(
        QStringLiteral("vus_bistral"), QStringLiteral("ProgrammPath"), QStringLiteral("false"));
    if (path == QStringLiteral("false")) {
        m_seams.dialogs->showMessage(QStringLiteral("Не определен файл базы данных по умолчанию!!! "
                                                    "Пожалуйста, откройте программу Сорвентия выбрав нужный "
                                                    "файл базы. Затем закройте программу  и откройте снова. "
                                                    "Путь к необходимой бызе должен предлагаться по "
                                                    "умолчанию."));
        return;
    }
    AddToLog(QStringLiteral("Каталог установки программы ВУС бистрал = ") +
             filesystem::removeFolderName(path, QStringLiteral("ВУС бистрал\\")));
    AddToLog(QString());
}

void TfmMain::Button1Click() {
    close();
}

void TfmMain::N6Click() {
    close();
}

void TfmMain::N3Click() {
    if (m_about)
        m_about->showAndRaise();
}

void TfmMain::N2Click() {
    m_seams.dialogs->messageBox(QStringLiteral("  "), QStringLiteral("Подсказка"));
}

void TfmMain::AddToLog(const QString& text) {
    QListWidget* list = ui->ListBox1;
    list->addItem(text);
    const int last = list->count() - 1;
    if (list->isVisible()) {
        holdLogUntilFrame();
        // The view answers a new current row by laying out every line to find the row's place;
        // the frame's scroll and repaint do what it would.
        const QSignalBlocker quiet(list->selectionModel());
        list->setCurrentRow(last);
        m_logScrollRow = last;
    } else {
        // A hidden list (--silent) shows its current line when it is first laid out for showing.
        list->setCurrentRow(last);
    }
    Q_EMIT logLineAdded(text);
}

void TfmMain::AppendToLog(const QString& text) {
    ui->ListBox1->addItem(text);
    if (ui->ListBox1->isVisible())
        holdLogUntilFrame();
    Q_EMIT logLineAdded(text);
}

namespace {
// About one screen refresh.
constexpr qint64 logFrameMs = 15;
} // namespace

void TfmMain::holdLogUntilFrame() {
    // Each new line would lay out and repaint every line the next time the queue runs, and an
    // extraction lets it run after each line. The first line after a quiet frame shows at the
    // next pass.
    if (m_logFrame->isActive())
        return;
    ui->ListBox1->setUpdatesEnabled(false);
    const qint64 since = m_logFrameShown.isValid() ? m_logFrameShown.elapsed() : logFrameMs;
    m_logFrame->start(int(std::max<qint64>(0, logFrameMs - since)));
}

void TfmMain::showLogFrame() {
    QListWidget* list = ui->ListBox1;
    if (QListWidgetItem* item = list->item(m_logScrollRow))
        list->scrollToItem(item);
    m_logScrollRow = -1;
    list->setUpdatesEnabled(true);
    m_logFrameShown.start();
}

bool TfmMain::eventFilter(QObject* watched, QEvent* event) {
    // The list's own timers, its layout after new lines above all, wait for the frame as well.
    if (watched == ui->ListBox1 && event->type() == QEvent::Timer && m_logFrame->isActive())
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void TfmMain::letQueueRun() {
    // Running the queue costs more than a small item takes to extract; once a frame is enough for
    // the window to repaint and answer the operator.
    if (m_queueRun.isValid() && m_queueRun.elapsed() < logFrameMs)
        return;
    QCoreApplication::processEvents();
    m_queueRun.start();
}

QString TfmMain::LastLogLine() const {
    const int count = ui->ListBox1->count();
    if (count == 0)
        throw Error("В журнале нет ни одной строки.");
    return ui->ListBox1->item(count - 1)->text();
}

void TfmMain::ReplaceLastLogLine(const QString& text) {
    const int count = ui->ListBox1->count();
    if (count == 0)
        throw Error("В журнале нет ни одной строки.");
    ui->ListBox1->item(count - 1)->setText(text);
    Q_EMIT logLastLineReplaced(text);
}

void TfmMain::MyProgress(int wParam, qint32 lParam) {
    QProgressBar* bar = ui->ProgressBar1;
    switch (wParam) {
    case 0:
        // The bar refuses a maximum below its minimum, as the old progress bar did; Qt would
        // quietly move the minimum instead.
        if (lParam < bar->minimum())
            throw Error("Значение свойства TProgressBar вне допустимого диапазона");
        bar->setMaximum(lParam);
        bar->setValue(0);
        break;
    case 1:
        bar->setValue(std::clamp(lParam, bar->minimum(), bar->maximum()));
        break;
    default:
        break;
    }
}

bool TfmMain::event(QEvent* event) {
    if (event->type() == WM_MYPROGRESS) {
        const auto* progress = static_cast<MyProgressEvent*>(event);
        handle([&] { MyProgress(progress->WParam, progress->LParam); });
        return true;
    }
    return QMainWindow::event(event);
}

void TfmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        handle([this] { FormShow(); });
    }
}

void TfmMain::closeEvent(QCloseEvent* event) {
    if (m_operationsRunningEventLoop > 0) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    event->accept();
    handle([this] { FormClose(); });
    // The main window ends the program, whatever other window is still open.
    QCoreApplication::quit();
}

void TfmMain::keyPressEvent(QKeyEvent* event) {
    // "Выход" is the window's cancel button.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui->Button1->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TfmMain::setUpdateButtonText(const QString& text) {
    ui->Button3->setText(text);
}

void TfmMain::setUpdateButtonEnabled(bool enabled) {
    ui->Button3->setEnabled(enabled);
}

void TfmMain::setDownloadButtonEnabled(bool enabled) {
    ui->Button2->setEnabled(enabled);
}

// While an operation lets the event queue run, a close waits until the operation returns.
void TfmMain::beginLettingQueueRun() {
    ++m_operationsRunningEventLoop;
}

void TfmMain::endLettingQueueRun() {
    if (--m_operationsRunningEventLoop == 0 && m_closeRequested) {
        m_closeRequested = false;
        close();
    }
}

void TfmMain::runQueue() {
    QCoreApplication::processEvents();
}

void TfmMain::postProgress(int wParam, qint32 lParam) {
    QCoreApplication::postEvent(this, new MyProgressEvent(wParam, lParam));
}

void TfmMain::showPostedProgress() {
    QCoreApplication::sendPostedEvents(this, WM_MYPROGRESS);
}

void TfmMain::beginTransfer(std::function<void()> onCloseRequest) {
    m_transferInputBlock = std::make_unique<TransferInputBlock>(this, std::move(onCloseRequest));
}

void TfmMain::endTransfer() {
    m_transferInputBlock.reset();
}
