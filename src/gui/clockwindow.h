#pragma once
// The download timer window ("Alarm Clock", TForm3): a clock face on which a
// click places the single hand at an hour, the am/pm switch and the line that
// confirms the hour. It renders shell::DownloadTimer and forwards the clicks.

#include "shell/download_timer.h"

#include <QImage>
#include <QWidget>

class QLabel;

namespace gui {

class ClockFace;

class ClockWindow : public QWidget {
    Q_OBJECT
public:
    ClockWindow(shell::DownloadTimer& timer, QWidget* parent = nullptr);

    static constexpr int ClientWidth = 305, ClientHeight = 240;

    // The face as drawn now (the hand included), for the tests.
    const QImage& canvas() const;
    QLabel* ampmLabel() const { return ampm_; }
    QLabel* confirmation() const { return Label2_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();

    shell::DownloadTimer& timer_;
    ClockFace* Image1_;
    QLabel* ampm_;
    QLabel* Label2_;
    platform::Receiver receiver_;
};

} // namespace gui
