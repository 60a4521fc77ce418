// The activity log under many lines: AddToLog and AppendToLog on the main window, hidden as in
// --silent and shown, with the queue run after each line, either directly or through the
// extraction's progress handlers as an extraction of one item per line calls them.
//
//   bench_log [lines]     (default 20000)
//
// The window is shown on the offscreen platform unless QT_QPA_PLATFORM says otherwise, e.g.
//   QT_QPA_PLATFORM=xcb xvfb-run -a bench/run.sh log

#include "support/window_fixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>

namespace {

double seconds(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e9;
}

enum class Queue { None, EachLine, ProgressHandlers };

struct Case {
    const char* name;
    bool shown;
    bool add;
    Queue queue;
};

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 20000;
    const QString line = QStringLiteral("Сорвентия\\Папка 007\\Документ 01234.txt");

    std::printf("platform %s, %d lines\n", qPrintable(QGuiApplication::platformName()), lines);
    std::printf("%-44s %10s %12s\n", "window, operation", "seconds", "lines/s");
    const Case cases[] = {
        {"hidden, AddToLog", false, true, Queue::None},
        {"hidden, AppendToLog", false, false, Queue::None},
        {"hidden, AddToLog + progress handlers", false, true, Queue::ProgressHandlers},
        {"shown, AddToLog + events", true, true, Queue::EachLine},
        {"shown, AppendToLog + events", true, false, Queue::EachLine},
        {"shown, AddToLog + progress handlers", true, true, Queue::ProgressHandlers},
    };
    for (const Case& c : cases) {
        WindowFixture f;
        if (c.shown) {
            f.window->show();
            if (!QTest::qWaitForWindowExposed(f.window.get())) {
                std::fprintf(stderr, "bench_log: the window was not shown\n");
                return 1;
            }
        }
        const double s = seconds([&] {
            for (int i = 0; i < lines; ++i) {
                if (c.add)
                    f.window->AddToLog(line);
                else
                    f.window->AppendToLog(line);
                if (c.queue == Queue::EachLine) {
                    QApplication::processEvents();
                } else if (c.queue == Queue::ProgressHandlers) {
                    f.window->ArchiverFileProgress(line, 1.0);
                    f.window->ArchiverOverallProgress(100.0 * (i + 1) / lines);
                }
            }
        });
        // What the operator sees once the window has had its next repaint.
        QTest::qWait(50);
        QListWidget* list = f.ui().ListBox1;
        const int expectedRow = c.add ? lines - 1 : -1;
        const bool inView = !c.shown || !c.add ||
                            list->viewport()->rect().intersects(list->visualItemRect(list->item(lines - 1)));
        if (f.log().size() != lines || f.selectedRow() != expectedRow || !inView) {
            std::fprintf(stderr, "bench_log: %s: %lld lines, row %d selected, last line %s\n", c.name,
                         qlonglong(f.log().size()), f.selectedRow(), inView ? "in view" : "out of view");
            return 1;
        }
        std::printf("%-44s %10.3f %12.0f\n", c.name, s, double(lines) / s);
        std::fflush(stdout);
    }
    return 0;
}
