// The hidden documents download: the archive of documents over plain HTTP into "res/ver_1_3.zip"
// under the current directory, with its progress on the window's progress bar.

#include "app/main.h"

#include "base/error.h"
#include "download/archive_file.h"
#include "download/http_client.h"
#include "network/network_state.h"
#include "seams/dialogs.h"
#include "ui_main.h"

#include <QApplication>
#include <QDir>
#include <QUrl>

#include <functional>

using base::Error;

namespace {

const QString archivePath = QStringLiteral("/sites/default/files/ZentavoDocument/ver_1_3.zip");

// The message carries the low 32 bits of the client's 64-bit count.
qint32 low32(qint64 count) {
    return static_cast<qint32>(static_cast<quint32>(count));
}

bool isUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

// While the transfer runs, the program's windows repaint but take no input, as if the transfer
// held the thread. A request to close the main window ends the transfer, so the window is never
// held beyond the operator's wish.
class TransferInputBlock final : public QObject {
public:
    TransferInputBlock(QWidget* window, std::function<void()> onCloseRequest)
        : m_window(window)
        , m_onCloseRequest(std::move(onCloseRequest)) {
        qApp->installEventFilter(this);
    }
    ~TransferInputBlock() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && watched == m_window) {
            m_onCloseRequest();
            return false;
        }
        // A modal box (the standard error box) keeps its own input, or it could never be closed.
        return isUserInput(event->type()) && !QApplication::activeModalWidget();
    }

private:
    QWidget* const m_window;
    const std::function<void()> m_onCloseRequest;
};

} // namespace

HttpClient* TfmMain::createIdHTTP1() {
    auto* client = new HttpClient(this);
    client->setLimits(m_seams.downloadServer.limits);
    connect(client, &HttpClient::workBegin, this,
            [this, client](WorkMode mode, qint64 max) { IdHTTP1WorkBegin(client, mode, max); });
    connect(client, &HttpClient::work, this,
            [this, client](WorkMode mode, qint64 count) { IdHTTP1Work(client, mode, count); });
    return client;
}

bool TfmMain::InternetConnected() {
    return m_seams.networkState && m_seams.networkState->connected();
}

void TfmMain::IdHTTP1WorkBegin(QObject* ASender, WorkMode AWorkMode, qint64 AWorkCountMax) {
    Q_UNUSED(ASender);
    Q_UNUSED(AWorkMode);
    // An unknown size is no negative maximum: the bar shows a transfer of unknown length.
    QCoreApplication::postEvent(this, new MyProgressEvent(0, AWorkCountMax < 0 ? 0 : low32(AWorkCountMax)));
}

void TfmMain::IdHTTP1Work(QObject* ASender, WorkMode AWorkMode, qint64 AWorkCount) {
    Q_UNUSED(ASender);
    Q_UNUSED(AWorkMode);
    QCoreApplication::postEvent(this, new MyProgressEvent(1, low32(AWorkCount)));
}

void TfmMain::Button2Click() {
    if (!InternetConnected()) {
        m_seams.dialogs->showMessage(QStringLiteral("Отсутствует подключение к интернету!"));
        return;
    }
    const QUrl url(m_seams.downloadServer.baseUrl + archivePath);
    // Relative to the current directory as it is now, whatever changed it before.
    const QString folder = QDir::currentPath();
    bool completed = false;
    {
        EventLoopScope loopScope(*this);
        HttpClient probe;
        probe.setLimits(m_seams.downloadServer.limits);
        TransferInputBlock block(this, [this, &probe] {
            probe.cancel();
            IdHTTP1->cancel();
        });
        try {
            probe.Head(url);
            // The body goes straight to a temporary file, so that neither "res" nor the archive
            // changes before the whole archive is here.
            ArchiveFile archive(folder);
            IdHTTP1->Get(url,
                         [&archive](QByteArrayView bytes) { archive.write(bytes.data(), bytes.size()); });
            archive.commit();
            completed = true;
        } catch (const Error&) {
            // The command drops its failures without a word; an earlier archive stays as it was.
        }
        // The bar shows the whole of this transfer before the command ends.
        QCoreApplication::sendPostedEvents(this, WM_MYPROGRESS);
    }
    if (completed) {
        ui->Button3->setEnabled(true);
        ui->Button2->setEnabled(false);
    }
}
