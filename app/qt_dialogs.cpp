#include "app/qt_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {

void showBox(QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

// "description|mask|description|mask" as Qt writes it: "description (mask);;description (mask)".
QString qtFilter(const QString& pairs) {
    const QStringList parts = pairs.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters.append(parts[i] + QStringLiteral(" (") + QString(parts[i + 1]).replace(u';', u' ') + u')');
    return filters.join(QStringLiteral(";;"));
}

} // namespace

void QtDialogs::messageBox(const QString& text, const QString& caption, BoxIcon icon) {
    showBox(m_owner, icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text);
}

void QtDialogs::showMessage(const QString& text) {
    showBox(m_owner, QMessageBox::NoIcon, applicationTitle(), text);
}

void QtDialogs::showError(const QString& text) {
    showBox(m_owner, QMessageBox::Critical, applicationTitle(), text);
}

std::optional<QString> QtDialogs::openFile(const OpenFileRequest& request) {
    QFileDialog dialog(m_owner, QString(), request.initialFolder, qtFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}
