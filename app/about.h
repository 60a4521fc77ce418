#pragma once

#include <QScopedPointer>
#include <QWidget>

class TDM;
namespace Ui {
class TfmAbout;
}

// The About window: created hidden at start-up, shown modelessly from the menu; closing it only
// hides it. A tool window of the main window rather than a dialog, so that Esc does not close it.
class TfmAbout : public QWidget {
    Q_OBJECT
public:
    explicit TfmAbout(const TDM& dm, QWidget* parent = nullptr);
    ~TfmAbout() override;

    void FormCreate();
    void Button1Click();

    // Shows the window, or brings it forward when it is already open.
    void showAndRaise();

private:
    const QScopedPointer<Ui::TfmAbout> ui;
    const TDM& m_dm;
    bool m_placed = false;
};
