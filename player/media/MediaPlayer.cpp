#include "player/media/MediaPlayer.h"

#include "player/media/ChildStart.h"
#include "player/media/DecoderPolicy.h"
#include "player/media/PipelineDevice.h"
#include "player/media/PipelineTeardown.h"
#include "player/media/PlayingWorker.h"
#include "player/media/Sinks.h"

namespace {

const char* const NoDeviceOpen = "No MCI device open";

} // namespace

struct TMediaPlayer::Private {
    std::unique_ptr<TMediaDevice> device;
    // The open file's pictures have been announced to the window's owner.
    bool videoShown = false;
};

// A player that plays keeps every decoder out of its own process; only
// without the child's program do files play here, as they did before there
// was one. A player that tests files plays nothing to anyone and may stay
// in the process it was made in: that process is a worker already.
TMediaPlayer::TMediaPlayer(QObject* parent, Output output) : QObject(parent), d(new Private) {
    if (output == Output::Real && TPlayingWorker::Available())
        d->device = std::make_unique<TPlayingWorker>();
    else
        d->device = std::make_unique<TPipelineDevice>(output);
}

TMediaPlayer::~TMediaPlayer() {
    CloseMedia();
}

void TMediaPlayer::OpenMedia() {
    HideVideo();
    emit aboutToOpen();
    d->device->Open(FileName);
}

bool TMediaPlayer::OpenMediaWithin(int limitMs) {
    HideVideo();
    emit aboutToOpen();
    auto* child = dynamic_cast<TPlayingWorker*>(d->device.get());
    return child && child->OpenWithin(FileName, limitMs);
}

void TMediaPlayer::CloseMedia() {
    d->device->Close();
    HideVideo();
}

void TMediaPlayer::HideVideo() {
    if (d->videoShown) {
        d->videoShown = false;
        emit videoHidden();
    }
}

void TMediaPlayer::PlayMedia() {
    if (!d->device->IsOpen())
        throw EMCIDeviceError(NoDeviceOpen);
    if (!d->videoShown) {
        const QSize size = d->device->VideoSize();
        if (!size.isEmpty()) {
            d->videoShown = true;
            emit videoAboutToShow(size);
        }
    }
    d->device->Play();
}

void TMediaPlayer::SetVideoWindow(quintptr window, const QSize& size) {
    d->device->SetVideoWindow(window, size);
}

void TMediaPlayer::RedrawVideo() {
    if (d->device->IsOpen())
        d->device->RedrawVideo();
}

void TMediaPlayer::PauseMedia() {
    if (!d->device->IsOpen())
        throw EMCIDeviceError(NoDeviceOpen);
    d->device->Pause();
}

void TMediaPlayer::StopMedia() {
    if (!d->device->IsOpen())
        throw EMCIDeviceError(NoDeviceOpen);
    d->device->Stop();
}

void TMediaPlayer::SeekMedia(qint64 ms) {
    if (!d->device->IsOpen())
        throw EMCIDeviceError(NoDeviceOpen);
    d->device->Seek(ms);
}

qint64 TMediaPlayer::MediaPosition() const {
    return d->device->IsOpen() ? d->device->Position() : 0;
}

qint64 TMediaPlayer::MediaLength() const {
    if (!d->device->IsOpen())
        throw EMCIDeviceError(NoDeviceOpen);
    return d->device->Length();
}

TMPModes TMediaPlayer::MediaMode() const {
    return d->device->IsOpen() ? d->device->Mode() : TMPModes::mpNotReady;
}

bool TMediaPlayer::isOpen() const {
    return d->device->IsOpen();
}

void TMediaPlayer::SetStreamTitle(const QString& title, const QString& artist) {
    if (d->device->IsOpen())
        d->device->SetStreamTitle(title, artist);
}

QString TMediaPlayer::LastError() const {
    return d->device->LastError();
}

bool TMediaPlayer::LackedDecoder() const {
    return d->device->LackedDecoder();
}

void TMediaPlayer::AllowEveryDecoder() {
    AllowEveryDecoderHere();
}

void TMediaPlayer::PrepareToPlay(const QByteArray& firstFile) {
    if (TPlayingWorker::Available())
        TPlayingWorker::Prepare(
            NamedForFFmpeg(std::string_view(firstFile.constData(), size_t(firstFile.size()))));
}

void TMediaPlayer::TakeStartedChild(bool wanted) {
    TPlayingWorker::TakeStartedChild(wanted);
}

void TMediaPlayer::TryFFmpegLast() {
    TryFFmpegLastHere();
}

void TMediaPlayer::WithEveryDecoder(const std::function<void()>& work) {
    RunWithEveryDecoder(work);
}

bool TMediaPlayer::HoldsFFmpegDecoders() {
    return FFmpegLoadedHere();
}

QByteArray TMediaPlayer::AudioSinkName() {
    InitGStreamer();
    return AudioSinkFactory();
}

QByteArray TMediaPlayer::VideoSinkName() {
    InitGStreamer();
    return VideoSinkFactory();
}

int TMediaPlayer::AbandonedPipelines() {
    return AbandonedPipelineCount();
}
