#include "app/empty_range_bar.h"

#include <QEvent>
#include <QProgressBar>
#include <QStyleOptionProgressBar>
#include <QStylePainter>

namespace {

class EmptyRangePainter final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* bar = qobject_cast<QProgressBar*>(watched);
        if (event->type() != QEvent::Paint || !bar || bar->minimum() != bar->maximum())
            return false;
        QStyleOptionProgressBar option;
        option.initFrom(bar);
        option.state |= QStyle::State_Horizontal;
        option.minimum = 0;
        option.maximum = 1;
        option.progress = 0;
        option.textAlignment = bar->alignment();
        option.textVisible = false;
        option.invertedAppearance = bar->invertedAppearance();
        QStylePainter painter(bar);
        painter.drawControl(QStyle::CE_ProgressBar, option);
        return true;
    }
};

} // namespace

void showEmptyRangeAsEmptyBar(QProgressBar* bar) {
    bar->installEventFilter(new EmptyRangePainter(bar));
}
