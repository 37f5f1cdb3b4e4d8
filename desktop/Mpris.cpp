#include "desktop/Mpris.h"

#include "desktop/CommandLine.h"
#include "player/media/MediaPlayer.h"
#include "desktop/OpenPaths.h"
#include "player/Unit1.h"
#include "player/core/Volume.h"
#include "playlist/core/Playlist.h"
#include "playlist/Unit2.h"
#include "trackinfo/core/CoverArt.h"
#include "windows/Controls.h"

#include <QComboBox>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QScrollBar>
#include <QTimer>
#include <cmath>
#include <unistd.h>

namespace {

const QString MprisPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString PlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString NoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

// The media types of the eight extensions a search or a drop accepts (".rmi"
// is RIFF-wrapped MIDI, given audio/midi by the installed type package), and
// of playlist files.
const QStringList MimeTypes = {
    QStringLiteral("audio/mpeg"),
    QStringLiteral("audio/x-wav"),
    QStringLiteral("audio/x-ms-wma"),
    QStringLiteral("audio/midi"),
    QStringLiteral("video/x-msvideo"),
    QStringLiteral("video/mpeg"),
    QStringLiteral("audio/x-tolvane-playlist"),
};

} // namespace

class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool Fullscreen READ Fullscreen)
    Q_PROPERTY(bool CanSetFullscreen READ CanSetFullscreen)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    MprisRootAdaptor(QObject* object, Mpris* mpris) : QDBusAbstractAdaptor(object), m_(mpris) {}
    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool Fullscreen() const { return false; }
    bool CanSetFullscreen() const { return false; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Tolvane"); }
    QString DesktopEntry() const { return QStringLiteral("tolvane"); }
    QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList SupportedMimeTypes() const { return MimeTypes; }

public slots:
    void Raise() { m_->Raise(); }
    void Quit() { m_->Quit(); }

private:
    Mpris* m_;
};

class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE SetLoopStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(bool Shuffle READ Shuffle WRITE SetShuffle)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoNext)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPause)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)
public:
    MprisPlayerAdaptor(QObject* object, Mpris* mpris) : QDBusAbstractAdaptor(object), m_(mpris) {
        connect(mpris, &Mpris::Seeked, this, &MprisPlayerAdaptor::Seeked);
    }
    QString PlaybackStatus() const { return m_->PlaybackStatus(); }
    QString LoopStatus() const { return m_->LoopStatus(); }
    void SetLoopStatus(const QString& status) { m_->SetLoopStatus(status); }
    double Rate() const { return 1.0; }
    void SetRate(double) {} // one speed only
    bool Shuffle() const { return m_->Shuffle(); }
    void SetShuffle(bool on) { m_->SetShuffle(on); }
    QVariantMap Metadata() const { return m_->Metadata(); }
    double Volume() const { return m_->Volume(); }
    void SetVolume(double volume) { m_->SetVolume(volume); }
    qlonglong Position() const { return m_->Position(); }
    bool CanGoNext() const { return m_->CanGoNext(); }
    bool CanPlay() const { return m_->CanPlay(); }
    bool CanPause() const { return m_->CanPause(); }
    bool CanSeek() const { return m_->CanSeek(); }
    bool CanControl() const { return true; }

public slots:
    void Next() { m_->Next(); }
    void Previous() { m_->Previous(); }
    void Pause() { m_->Pause(); }
    void PlayPause() { m_->PlayPause(); }
    void Stop() { m_->Stop(); }
    void Play() { m_->Play(); }
    void Seek(qlonglong offset) { m_->Seek(offset); }
    void SetPosition(const QDBusObjectPath& trackId, qlonglong position) {
        m_->SetPosition(trackId.path(), position);
    }
    void OpenUri(const QString& uri) { m_->OpenUri(uri); }

signals:
    void Seeked(qlonglong Position);

private:
    Mpris* m_;
};

Mpris::Mpris(TForm1& form1, QObject* parent)
    : QObject(parent), form1_(form1), trackInfo_(new TrackInfoReader(CoverCacheFolder(), this)) {
    connect(trackInfo_, &TrackInfoReader::Ready, this, &Mpris::TrackInfoArrived);
}

Mpris::~Mpris() = default;

bool Mpris::Start() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    auto* object = new QObject(this);
    new MprisRootAdaptor(object, this);
    new MprisPlayerAdaptor(object, this);
    if (!bus.registerObject(MprisPath, object))
        return false;
    // The name tells the desktop which player this is; a second copy that
    // keeps its own playlist takes an instance name, as the interface asks.
    const QString name = QStringLiteral("org.mpris.MediaPlayer2.tolvane");
    if (!bus.registerService(name))
        bus.registerService(name + QStringLiteral(".instance") + QString::number(::getpid()));
    sent_ = PlayerProperties();
    poll_ = new QTimer(this);
    poll_->setInterval(PollMs);
    connect(poll_, &QTimer::timeout, this, &Mpris::Poll);
    poll_->start();
    sinceLastPoll_.start();
    return true;
}

// --- reading the windows -----------------------------------------------------

QString Mpris::PlaybackStatus() const {
    if (!form1_.isLoaded())
        return QStringLiteral("Stopped");
    return form1_.isPaused() ? QStringLiteral("Paused") : QStringLiteral("Playing");
}

QString Mpris::LoopStatus() const {
    return form1_.PlayOrderIndex() == 2 ? QStringLiteral("Track") : QStringLiteral("None");
}

bool Mpris::Shuffle() const {
    return form1_.PlayOrderIndex() == 1;
}

double Mpris::Volume() const {
    return double(form1_.ScrollBar1->value()) / MaxVolumeLevel;
}

qint64 Mpris::Position() const {
    if (!form1_.isLoaded())
        return 0;
    try {
        return form1_.MP->MediaPosition() * 1000;
    } catch (const std::exception&) {
        return 0;
    }
}

bool Mpris::CanGoNext() const {
    return form1_.Form2->EntryCount() > 0;
}
bool Mpris::CanPlay() const {
    return CanGoNext() || form1_.isLoaded();
}
bool Mpris::CanPause() const {
    return form1_.isLoaded();
}
bool Mpris::CanSeek() const {
    return form1_.isLoaded();
}

void Mpris::NoteTrack() {
    const QByteArray& file = form1_.MP->FileName;
    if (file == trackFile_)
        return;
    trackFile_ = file;
    ++trackSerial_;
    trackTags_.clear();
    if (file.isEmpty())
        return;
    trackTags_.insert(QStringLiteral("xesam:title"), PathText(DisplayName(file)));
    trackTags_.insert(QStringLiteral("xesam:url"), QString::fromLatin1(FileUrlOfPath(file)));
    trackInfo_->Read(file);
}

// The tags of the track that is still the current one: the metadata grows by
// them and the desktop is told at once.
void Mpris::TrackInfoArrived(const QByteArray& path, const TrackInfo& info) {
    if (path != trackFile_)
        return;
    const TrackTags& tags = info.Tags;
    if (!tags.Title.isEmpty())
        trackTags_.insert(QStringLiteral("xesam:title"), tags.Title);
    if (!tags.Artists.isEmpty())
        trackTags_.insert(QStringLiteral("xesam:artist"), tags.Artists);
    if (!tags.Album.isEmpty())
        trackTags_.insert(QStringLiteral("xesam:album"), tags.Album);
    if (!tags.AlbumArtists.isEmpty())
        trackTags_.insert(QStringLiteral("xesam:albumArtist"), tags.AlbumArtists);
    if (tags.TrackNumber > 0)
        trackTags_.insert(QStringLiteral("xesam:trackNumber"), tags.TrackNumber);
    if (!tags.Genres.isEmpty())
        trackTags_.insert(QStringLiteral("xesam:genre"), tags.Genres);
    if (tags.Year > 0)
        trackTags_.insert(QStringLiteral("xesam:contentCreated"), QString::number(tags.Year));
    // The device's own length, where it can tell one, replaces this.
    if (tags.LengthMs > 0)
        trackTags_.insert(QStringLiteral("mpris:length"), qlonglong(tags.LengthMs * 1000));
    if (!info.ArtUrl.isEmpty())
        trackTags_.insert(QStringLiteral("mpris:artUrl"), QString::fromLatin1(info.ArtUrl));
    const QVariantMap metadata = Metadata();
    sent_.insert(QStringLiteral("Metadata"), metadata);
    QDBusMessage signal =
        QDBusMessage::createSignal(MprisPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << PlayerInterface << QVariantMap{{QStringLiteral("Metadata"), metadata}}
           << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

QString Mpris::TrackId() {
    NoteTrack();
    return trackFile_.isEmpty() ? NoTrack
                                : QStringLiteral("/org/example/Tolvane/Track/%1").arg(trackSerial_);
}

QVariantMap Mpris::Metadata() {
    const QString id = TrackId();
    QVariantMap metadata = trackTags_;
    metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(id)));
    if (form1_.MP->isOpen()) {
        try {
            metadata.insert(QStringLiteral("mpris:length"),
                            qlonglong(form1_.MP->MediaLength() * 1000));
        } catch (const std::exception&) {
            // A device that cannot tell the length leaves it out.
        }
    }
    return metadata;
}

QVariantMap Mpris::PlayerProperties() {
    return {
        {QStringLiteral("PlaybackStatus"), PlaybackStatus()},
        {QStringLiteral("LoopStatus"), LoopStatus()},
        {QStringLiteral("Shuffle"), Shuffle()},
        {QStringLiteral("Volume"), Volume()},
        {QStringLiteral("Metadata"), Metadata()},
        {QStringLiteral("CanGoNext"), CanGoNext()},
        {QStringLiteral("CanGoPrevious"), CanGoNext()},
        {QStringLiteral("CanPlay"), CanPlay()},
        {QStringLiteral("CanPause"), CanPause()},
        {QStringLiteral("CanSeek"), CanSeek()},
    };
}

void Mpris::Poll() {
    const QVariantMap now = PlayerProperties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (sent_.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    const bool sameTrack =
        sent_.value(QStringLiteral("Metadata")) == now.value(QStringLiteral("Metadata"));
    sent_ = now;
    if (!changed.isEmpty()) {
        QDBusMessage signal =
            QDBusMessage::createSignal(MprisPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("PropertiesChanged"));
        signal << PlayerInterface << changed << QStringList();
        QDBusConnection::sessionBus().send(signal);
    }

    // A position away from where playing on would have taken it is a seek.
    const qint64 elapsed = sinceLastPoll_.restart();
    const qint64 position = form1_.isLoaded() ? Position() / 1000 : -1;
    if (position >= 0 && lastPositionMs_ >= 0 && sameTrack) {
        const bool moving = PlaybackStatus() == QLatin1String("Playing");
        const qint64 expected = lastPositionMs_ + (moving ? elapsed : 0);
        if (std::abs(position - expected) > 1500)
            emit Seeked(position * 1000);
    }
    lastPositionMs_ = position;
}

// --- requests ----------------------------------------------------------------

void Mpris::Later(std::function<void()> action) {
    QTimer::singleShot(0, this, [this, action = std::move(action)] {
        action();
        Poll();
    });
}

void Mpris::SetLoopStatus(const QString& status) {
    if (status == QLatin1String("Track"))
        form1_.Repeat1Click();
    else if (status == QLatin1String("None") || status == QLatin1String("Playlist")) {
        // Leaving repeat means continuous play; shuffle is left alone.
        if (form1_.PlayOrderIndex() == 2)
            form1_.Continuous1Click();
    }
    Poll();
}

void Mpris::SetShuffle(bool on) {
    if (on)
        form1_.Shuffle1Click();
    else if (form1_.PlayOrderIndex() == 1)
        form1_.Continuous1Click();
    Poll();
}

void Mpris::SetVolume(double volume) {
    if (std::isnan(volume))
        return;
    // The bar writes the system volume when its position changes.
    form1_.ScrollBar1->setValue(int(std::lround(std::clamp(volume, 0.0, 1.0) * MaxVolumeLevel)));
    Poll();
}

void Mpris::Play() {
    Later([this] {
        if (!form1_.isLoaded() || form1_.isPaused())
            form1_.PlayClick();
    });
}

void Mpris::Pause() {
    Later([this] {
        if (form1_.isPlaying())
            form1_.SpeedButton2Click();
    });
}

void Mpris::PlayPause() {
    Later([this] {
        // The Pause key pauses and resumes; Play starts when nothing is loaded.
        if (form1_.isPlaying() || form1_.isPaused())
            form1_.SpeedButton2Click();
        else
            form1_.PlayClick();
    });
}

void Mpris::Stop() {
    Later([this] { form1_.SpeedButton1Click(); });
}

void Mpris::Next() {
    Later([this] { form1_.NextClick(); });
}

void Mpris::Previous() {
    Later([this] { form1_.PrevClick(); });
}

void Mpris::SeekTo(qint64 ms) {
    // As the seek keys: the device moves, and goes on playing unless paused.
    try {
        form1_.MP->SeekMedia(ms);
        if (!form1_.isPaused())
            form1_.MP->PlayMedia();
    } catch (const std::exception&) {
        return;
    }
    lastPositionMs_ = ms;
    sinceLastPoll_.restart();
    emit Seeked(ms * 1000);
}

void Mpris::Seek(qint64 offsetUs) {
    Later([this, offsetUs] {
        if (!form1_.isLoaded())
            return;
        try {
            const qint64 target = std::max<qint64>(0, Position() / 1000 + offsetUs / 1000);
            if (target > form1_.MP->MediaLength())
                form1_.NextClick(); // past the end: the next track, as the interface asks
            else
                SeekTo(target);
        } catch (const std::exception&) {
        }
    });
}

void Mpris::SetPosition(const QString& trackId, qint64 positionUs) {
    Later([this, trackId, positionUs] {
        if (!form1_.isLoaded() || trackId != TrackId() || positionUs < 0)
            return;
        try {
            if (positionUs / 1000 <= form1_.MP->MediaLength())
                SeekTo(positionUs / 1000);
        } catch (const std::exception&) {
        }
    });
}

void Mpris::OpenUri(const QString& uri) {
    // The URI's escapes carry the path's bytes, whatever their encoding.
    const QByteArray path = LocalPathOfUrl(uri.toUtf8());
    if (path.isEmpty())
        return;
    Later([this, path] { OpenPaths(form1_, {AbsolutePath(path, "/")}); });
}

void Mpris::Raise() {
    Later([this] { RaiseMainWindow(form1_); });
}

void Mpris::Quit() {
    Later([this] { form1_.close(); });
}

#include "Mpris.moc"
