#pragma once
// TTrackF: the slew paddle, a small tool window that moves the telescope by hand. Its picture is a
// square four-way paddle; a click on one of its four triangles toggles that direction (clearing
// the opposite one) and sends the new set of directions to the telescope at once, so clicking a
// lit direction again stops it. The directions are CurrentSettings().ManualSlewFlags, which the
// guider window's key slewing shares.
#include <QWidget>

#include <array>
#include <string>

class QLabel;

// The click rule on a square picture of width w (strict comparisons; a point on a diagonal
// changes nothing): top triangle north, bottom south, left east, right west; the clicked
// direction toggles and its opposite is cleared. Flags indexed by GuideDirection.
void PaddleClick(std::array<bool, 4> &flags, int x, int y, int w);
// The picture's name for the flags: "trackbtn" + "E"/"NE"/"SE", else "W"/"NW"/"SW", else "N",
// else "S", else "0".
std::string PaddlePictureName(const std::array<bool, 4> &flags);

class TTrackF : public QWidget
{
    Q_OBJECT
public:
    explicit TTrackF(QWidget *parent = nullptr);
    ~TTrackF() override;

    // Stops a slew the paddle or the guider's keys started (at the program's end): the stop is
    // sent until the controller takes it, or the observer, told that the mount may still be
    // moving, gives up.
    static void StopManualSlew();
    // Sends CurrentSettings().ManualSlewFlags to the telescope. A stop the link refuses is sent
    // again for a few seconds before the observer is asked about the link, so the mount does not
    // move on while a box waits.
    static void SendManualSlew();

    QLabel *Image = nullptr;

    // Loads the picture for the current ManualSlewFlags.
    void UpdatePaddleBitmap();
    // A click at (x, y) on the picture: toggles a direction, redraws and slews.
    void ImageMouseDown(int x, int y);
    // The name of the picture shown last (without folder and extension).
    const std::string &PictureName() const { return pictureName_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormShow();
    void FormClose();
    std::string pictureName_;
};

extern TTrackF *TrackF;
