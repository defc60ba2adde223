#pragma once
// The download timer ("Alarm Clock") as a model: the user places the single
// hand of a clock face at an hour, switches between am and pm, and when the
// computer's clock reaches that hour the window closes and the download of the
// selected files starts.
//
// The check runs once a second while the window is open, and only once the
// user has placed the hand in this run: an hour nobody chose never fires.

#include "platform/eventloop.h"
#include "platform/signal.h"

#include <string>

namespace shell {

struct ClockPoint {
    int x = 0, y = 0;
    bool operator==(const ClockPoint&) const = default;
};

class DownloadTimer {
public:
    // Geometry of the face, in image coordinates.
    static constexpr ClockPoint Hub{109, 102};
    static constexpr int HandLength = 40;
    // The face's colour, with which the old hand is erased (red 230, green 228, blue 202).
    static constexpr unsigned EraseRed = 230, EraseGreen = 228, EraseBlue = 202;

    // FormCreate: the hand rests on the hub.
    DownloadTimer();

    // The hour for a click at (x, y) with the switch on "pm" or not: the hour
    // on the face nearest to the click (0 to 11, or 12 to 23), and the end point
    // of the hand, which points at that hour.
    static int hourAt(int x, int y, bool pm, ClockPoint* handEnd = nullptr);
    // The line that confirms a placed hour.
    static std::string confirmation(int hour);

    // Handlers.
    void Image1MouseDown(int x, int y); // any button: place the hand
    void ampmClick();                   // the am/pm switch
    void Timer1Timer();                 // the check, once a second
    void FormShow();                    // the check runs while shown ...
    void FormClose();                   // ... and stops when closed

    int hour() const { return hour_; }
    bool armed() const { return placed_ && Timer1.Enabled(); }
    bool visible() const { return visible_; }
    const std::string& ampm() const { return ampm_; }     // "pm" at first
    const std::string& Label2() const { return label2_; } // the confirmation line
    ClockPoint handEnd() const { return handEnd_; }

    platform::TTimer Timer1; // 1000 ms

    // The hand moved: erase the line from the hub to `from`, draw it to `to`.
    platform::Signal<ClockPoint, ClockPoint> handMoved;
    // The labels changed.
    platform::Signal<> changed;
    // The window closed itself (the check fired) ...
    platform::Signal<> closed;
    // ... and then the download of the selection starts (haulfilesClick).
    platform::Signal<> haulfiles;

private:
    int hour_ = 0;
    bool placed_ = false;
    bool visible_ = false;
    std::string ampm_ = "pm";
    std::string label2_;
    ClockPoint handEnd_ = Hub;
    platform::Lifetime lifetime_;
};

} // namespace shell
