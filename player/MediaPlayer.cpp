#include "player/MediaPlayer.h"

// Placeholder until the GStreamer device lands.
struct TMediaPlayer::Private {
    bool open = false;
};

TMediaPlayer::TMediaPlayer(QObject* parent) : QObject(parent), d(new Private) {}
TMediaPlayer::~TMediaPlayer() = default;
void TMediaPlayer::OpenMedia() { throw EMCIDeviceError("not built yet"); }
void TMediaPlayer::CloseMedia() { d->open = false; }
void TMediaPlayer::PlayMedia() { throw EMCIDeviceError("No MCI device open"); }
void TMediaPlayer::PauseMedia() { throw EMCIDeviceError("No MCI device open"); }
void TMediaPlayer::StopMedia() { throw EMCIDeviceError("No MCI device open"); }
void TMediaPlayer::SeekMedia(qint64) { throw EMCIDeviceError("No MCI device open"); }
qint64 TMediaPlayer::MediaPosition() const { return 0; }
qint64 TMediaPlayer::MediaLength() const { throw EMCIDeviceError("No MCI device open"); }
TMPModes TMediaPlayer::MediaMode() const { return TMPModes::mpNotReady; }
bool TMediaPlayer::isOpen() const { return d->open; }
