// The activity log under many lines: AddToLog and AppendToLog on the main window, hidden as in
// --silent and shown (offscreen), with the extraction's pattern of letting the queue run per line.
//
//   bench_log [lines]     (default 20000)

#include "support/window_fixture.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

double seconds(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 20000;
    const QString line = QStringLiteral("Сорвентия\\Папка 007\\Документ 01234.txt");

    std::printf("%-40s %10s %12s\n", "window, operation", "seconds", "lines/s");
    const auto report = [&](const char* what, double s) {
        std::printf("%-40s %10.3f %12.0f\n", what, s, double(lines) / s);
    };
    for (const bool shown : {false, true}) {
        for (const bool add : {true, false}) {
            WindowFixture f;
            if (shown) {
                f.window->show();
                QApplication::processEvents();
            }
            const double s = seconds([&] {
                for (int i = 0; i < lines; ++i) {
                    if (add)
                        f.window->AddToLog(line);
                    else
                        f.window->AppendToLog(line);
                    if (shown)
                        QApplication::processEvents();
                }
            });
            if (f.log().size() != lines) {
                std::fprintf(stderr, "bench_log: the log holds %lld lines\n", qlonglong(f.log().size()));
                return 1;
            }
            report(shown ? (add ? "shown, AddToLog + events" : "shown, AppendToLog + events")
                         : (add ? "hidden, AddToLog" : "hidden, AppendToLog"),
                   s);
        }
    }
    return 0;
}
