#include "app/qt_dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

using seams::applicationTitle;
using seams::BoxIcon;
using seams::OpenFileRequest;

namespace {

// Room the title bar takes besides the caption: the window icon, the close button and margins.
constexpr int titleBarDecorations = 120;

void showBox(QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    // The system's own word, in Cyrillic letters; Qt's translation keeps the Latin "OK".
    box.button(QMessageBox::Ok)->setText(QStringLiteral("ОК"));
    // Qt sizes a message box by its text alone; a short text would cut the caption. Title bars
    // commonly draw the caption bold.
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int captionWidth = QFontMetrics(titleFont).horizontalAdvance(caption) + titleBarDecorations;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(captionWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
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

bool installQtTranslation() {
    static QTranslator translation;
    if (!translation.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&translation);
}

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
