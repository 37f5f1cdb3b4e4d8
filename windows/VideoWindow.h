#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>
#include <memory>

class QScreen;
class QWidget;
class QWindow;
class TMediaPlayer;

// The size a video of `video` pixels (at their shape) is shown at where it
// may take `room`: its own size, or scaled down to fit keeping its shape.
// An empty room sets no limit.
QSize FittedVideoSize(const QSize& video, const QSize& room);

// The window a player's pictures are drawn into: one of the program's own,
// titled with the file's name, with the owner's icon, as large as the video
// and fitted to the screen, and placed on it. It is made, unshown, as the
// first file opens, so that every video opens into it; it shows when a file
// with pictures starts playing and goes when that file is closed; closed by
// the user it only hides, and the sound plays on. Off an X display (native
// Wayland, say) nothing can draw into it: the player then says so and the
// file plays its sound.
class TVideoWindow : public QObject {
    Q_OBJECT
public:
    // owner: the window whose icon and screen this one takes (may be null).
    TVideoWindow(TMediaPlayer* player, QWidget* owner);
    ~TVideoWindow() override;

    // The window once the first file has opened on an X display (unshown
    // until a video plays); null before, and off X.
    QWindow* window() const { return window_.get(); }

private:
    void Prepare();
    QScreen* Screen() const;
    void Make(QScreen* screen);
    void Show(const QSize& video);
    void Hide();
    void Resized();
    void NameSize();
    void SayNoDisplay();

    // The player may go first: the window then has no one left to tell.
    QPointer<TMediaPlayer> player_;
    QWidget* owner_;
    std::unique_ptr<QWindow> window_;
    // The size the player was last told the window shows the picture at.
    QSize named_;
    // A user dragging the frame makes many sizes in a row; the picture is
    // scaled to the one the window comes to rest at.
    QTimer settle_;
    // A message about the missing display is up or on its way.
    bool saying_ = false;
};
