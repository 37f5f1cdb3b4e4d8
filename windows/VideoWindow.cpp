#include "windows/VideoWindow.h"

#include "platform/PathNames.h"
#include "player/media/MediaPlayer.h"
#include "windows/Frames.h"
#include "windows/MessageBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QExposeEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <xcb/xcb.h>

QSize FittedVideoSize(const QSize& video, const QSize& room) {
    if (video.isEmpty() || room.isEmpty() ||
        (video.width() <= room.width() && video.height() <= room.height()))
        return video;
    const double scale =
        std::min(double(room.width()) / video.width(), double(room.height()) / video.height());
    return {std::clamp(int(std::lround(video.width() * scale)), 1, room.width()),
            std::clamp(int(std::lround(video.height() * scale)), 1, room.height())};
}

namespace {

// Qt paints nothing into a plain window without a backing store, so the
// pictures the child draws stay as they are until the window is exposed:
// then the player draws the last one again. Closed by the user, the window
// only hides: the device's own window did the same, and the sound plays on.
class VideoSurface : public QWindow {
public:
    VideoSurface(QScreen* screen, TMediaPlayer* player) : QWindow(screen), player_(player) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        hide();
    }
    void exposeEvent(QExposeEvent*) override {
        if (isExposed() && player_)
            player_->RedrawVideo();
    }

private:
    QPointer<TMediaPlayer> player_;
};

// The child draws through a connection of its own to the X server, which
// must know the window before the child names it: a window that is not
// there yet is an X error, and that ends the child.
void WaitForTheServer() {
    if (xcb_connection_t* connection = XConnection())
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

// How long the window keeps one size before the picture is scaled to it.
constexpr int SettleMs = 100;

} // namespace

TVideoWindow::TVideoWindow(TMediaPlayer* player, QWidget* owner)
    : QObject(owner), player_(player), owner_(owner) {
    // Directly: the window must be there before the player goes on to open
    // or play.
    connect(player, &TMediaPlayer::aboutToOpen, this, &TVideoWindow::Prepare,
            Qt::DirectConnection);
    connect(player, &TMediaPlayer::videoAboutToShow, this, &TVideoWindow::Show,
            Qt::DirectConnection);
    connect(player, &TMediaPlayer::videoHidden, this, &TVideoWindow::Hide, Qt::DirectConnection);
    settle_.setSingleShot(true);
    settle_.setInterval(SettleMs);
    connect(&settle_, &QTimer::timeout, this, &TVideoWindow::NameSize);
}

// The player names this window for the videos it opens later; they must
// not draw into a window that is gone.
TVideoWindow::~TVideoWindow() {
    if (window_ && player_)
        player_->SetVideoWindow(0, {});
}

// Made before the first file opens, whatever it holds: were it made only
// for a video, that video would open unseen and take a second preroll at
// its first play to come into the window. Named without a size: the first
// picture comes at its own, and Show names the size it is shown at.
void TVideoWindow::Prepare() {
    if (window_ || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    Make(Screen());
    window_->create();
    WaitForTheServer();
    player_->SetVideoWindow(window_->winId(), {});
}

QScreen* TVideoWindow::Screen() const {
    return owner_ && owner_->screen() ? owner_->screen() : QGuiApplication::primaryScreen();
}

void TVideoWindow::Make(QScreen* screen) {
    window_ = std::make_unique<VideoSurface>(screen, player_);
    connect(window_.get(), &QWindow::widthChanged, this, &TVideoWindow::Resized);
    connect(window_.get(), &QWindow::heightChanged, this, &TVideoWindow::Resized);
    // The keys stay with the player's windows, where they mean something.
    window_->setFlags(Qt::Window | Qt::WindowDoesNotAcceptFocus);
    window_->setIcon(owner_ ? owner_->windowIcon() : QApplication::windowIcon());
}

void TVideoWindow::Show(const QSize& video) {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        SayNoDisplay();
        return;
    }
    QScreen* screen = Screen();
    if (!window_)
        Make(screen);
    // The owner's frame tells how much the window manager adds around a
    // window; the whole framed window must fit the screen's free area.
    const QRect room = screen ? screen->availableGeometry() : QRect();
    const QMargins margins = owner_ ? FrameMargins(owner_) : QMargins();
    const QSize frame(margins.left() + margins.right(), margins.top() + margins.bottom());
    const QSize size = FittedVideoSize(video, room.size() - frame);
    window_->setScreen(screen);
    window_->setTitle(PathText(DisplayName(player_->FileName)));
    window_->resize(size);
    if (room.isValid())
        window_->setFramePosition(room.topLeft() +
                                  QPoint((room.width() - size.width() - frame.width()) / 2,
                                         (room.height() - size.height() - frame.height()) / 2));
    window_->show();
    WaitForTheServer();
    // The child counts in the screen's own pixels.
    named_ = size * window_->devicePixelRatio();
    player_->SetVideoWindow(window_->winId(), named_);
}

void TVideoWindow::Hide() {
    settle_.stop();
    if (window_)
        window_->hide();
}

void TVideoWindow::Resized() {
    if (window_->isVisible())
        settle_.start();
}

// A size of the user's while the picture shows: the child scales the
// picture to it, playing or not.
void TVideoWindow::NameSize() {
    if (!window_ || !window_->isVisible() || !player_)
        return;
    const QSize size = window_->size() * window_->devicePixelRatio();
    if (size.isEmpty() || size == named_)
        return;
    named_ = size;
    player_->SetVideoWindow(window_->winId(), named_);
}

// Said after the track has started, not in the middle of starting it, and
// once for each file as long as the message is not answered.
void TVideoWindow::SayNoDisplay() {
    if (saying_)
        return;
    saying_ = true;
    const QString name = PathText(DisplayName(player_->FileName));
    QTimer::singleShot(0, this, [this, name] {
        ShowMessage(QStringLiteral("Video needs an X display, and this session has none: "
                                   "only the sound of %1 plays.")
                        .arg(name));
        saying_ = false;
    });
}
