#include "platform/file_copy.h"

#include "platform/atomic_file.h"
#include "platform/error.h"

#include <QFile>
#include <QFileInfo>

bool copyFileReplacing(const QString& source, const QString& target) {
    const QFileInfo from(source);
    const QFileInfo to(target);
    if (to.exists() && from.canonicalFilePath() == to.canonicalFilePath())
        return from.isFile();
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return false;
    try {
        AtomicFile output(target);
        output.open();
        char buffer[64 * 1024];
        for (;;) {
            const qint64 n = input.read(buffer, sizeof buffer);
            if (n < 0)
                return false;
            if (n == 0)
                break;
            output.write(buffer, n);
        }
        output.setMode(input.permissions(), false);
        output.commit();
        return true;
    } catch (const Error&) {
        return false;
    }
}
