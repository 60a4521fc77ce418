// The hidden documents download: the archive of documents over plain HTTP into "res/ver_1_3.zip"
// under the current directory, with its progress posted to the window.

#include "download/documents_download.h"

#include "base/error.h"
#include "download/archive_file.h"
#include "network/network_state.h"
#include "seams/dialogs.h"
#include "seams/window_controls.h"

#include <QDir>
#include <QUrl>

using base::Error;
using seams::WindowQueue;

namespace {

const QString archivePath = QStringLiteral("/sites/default/files/ZentavoDocument/ver_1_3.zip");

// The message carries the low 32 bits of the client's 64-bit count.
qint32 low32(qint64 count) {
    return static_cast<qint32>(static_cast<quint32>(count));
}

// While the transfer runs the window takes no input; a request to close it ends the transfer, so
// the window is never held beyond the operator's wish.
class Transfer {
public:
    Transfer(WindowQueue& queue, std::function<void()> onCloseRequest)
        : m_queue(queue) {
        m_queue.beginTransfer(std::move(onCloseRequest));
    }
    ~Transfer() { m_queue.endTransfer(); }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

private:
    WindowQueue& m_queue;
};

} // namespace

download::DocumentsDownload::DocumentsDownload(const Context& context)
    : m_dialogs(context.dialogs)
    , m_networkState(context.networkState)
    , m_server(context.server)
    , m_controls(context.controls)
    , m_queue(context.queue) {
    IdHTTP1.setLimits(m_server.limits);
    QObject::connect(&IdHTTP1, &HttpClient::workBegin, &IdHTTP1,
                     [this](WorkMode mode, qint64 max) { IdHTTP1WorkBegin(&IdHTTP1, mode, max); });
    QObject::connect(&IdHTTP1, &HttpClient::work, &IdHTTP1,
                     [this](WorkMode mode, qint64 count) { IdHTTP1Work(&IdHTTP1, mode, count); });
}

bool download::DocumentsDownload::InternetConnected() {
    return m_networkState && m_networkState->connected();
}

void download::DocumentsDownload::IdHTTP1WorkBegin(QObject* ASender, WorkMode AWorkMode,
                                                   qint64 AWorkCountMax) {
    Q_UNUSED(ASender);
    Q_UNUSED(AWorkMode);
    // An unknown size is no negative maximum: the bar shows a transfer of unknown length.
    m_queue.postProgress(0, AWorkCountMax < 0 ? 0 : low32(AWorkCountMax));
}

void download::DocumentsDownload::IdHTTP1Work(QObject* ASender, WorkMode AWorkMode, qint64 AWorkCount) {
    Q_UNUSED(ASender);
    Q_UNUSED(AWorkMode);
    m_queue.postProgress(1, low32(AWorkCount));
}

void download::DocumentsDownload::downloadDocuments() {
    if (!InternetConnected()) {
        m_dialogs.showMessage(QStringLiteral("Отсутствует подключение к интернету!"));
        return;
    }
    const QUrl url(m_server.baseUrl + archivePath);
    // Relative to the current directory as it is now, whatever changed it before.
    const QString folder = QDir::currentPath();
    bool completed = false;
    {
        const WindowQueue::Scope loopScope(m_queue);
        HttpClient probe;
        probe.setLimits(m_server.limits);
        const Transfer transfer(m_queue, [this, &probe] {
            probe.cancel();
            IdHTTP1.cancel();
        });
        try {
            probe.Head(url);
            // The body goes straight to a temporary file, so that neither "res" nor the archive
            // changes before the whole archive is here.
            ArchiveFile archive(folder);
            IdHTTP1.Get(url, [&archive](QByteArrayView bytes) { archive.write(bytes.data(), bytes.size()); });
            archive.commit();
            completed = true;
        } catch (const Error&) {
            // The command drops its failures without a word; an earlier archive stays as it was.
        }
        // The bar shows the whole of this transfer before the command ends.
        m_queue.showPostedProgress();
    }
    if (completed) {
        m_controls.setUpdateButtonEnabled(true);
        m_controls.setDownloadButtonEnabled(false);
    }
}
