#include "desktop/Mpris.h"

#include "desktop/CommandLine.h"
#include "platform/PathNames.h"
#include "player/PlayerControl.h"
#include "player/core/Volume.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <algorithm>
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
    void SetRate(double rate) { m_->SetRate(rate); }
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

Mpris::Mpris(PlayerControl& control, QObject* parent) : QObject(parent), control_(control) {
    connect(&control, &PlayerControl::trackInfoChanged, this, &Mpris::TrackInfoArrived);
    connect(&control, &PlayerControl::trackChanged, this, &Mpris::NoteTrack);
    connect(&control, &PlayerControl::positionJumped, this, &Mpris::NotePositionJump);
    connect(&control, &PlayerControl::playbackStateChanged, this, &Mpris::ChangesLater);
    connect(&control, &PlayerControl::entriesChanged, this, &Mpris::ChangesLater);
    connect(&control, &PlayerControl::volumeChanged, this, &Mpris::ChangesLater);
    connect(&control, &PlayerControl::playOrderChanged, this, &Mpris::ChangesLater);
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
    started_ = true;
    return true;
}

// --- reading the player ------------------------------------------------------

QString Mpris::PlaybackStatus() const {
    switch (control_.State()) {
    case PlayerControl::PlaybackState::Playing:
        return QStringLiteral("Playing");
    case PlayerControl::PlaybackState::Paused:
        return QStringLiteral("Paused");
    case PlayerControl::PlaybackState::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QString Mpris::LoopStatus() const {
    return control_.PlayOrder() == 2 ? QStringLiteral("Track") : QStringLiteral("None");
}

bool Mpris::Shuffle() const {
    return control_.PlayOrder() == 1;
}

double Mpris::Volume() const {
    return double(control_.VolumeLevel()) / MaxVolumeLevel;
}

qint64 Mpris::Position() const {
    return control_.Position() * 1000;
}

bool Mpris::CanGoNext() const {
    return control_.CanGoNext();
}
bool Mpris::CanPlay() const {
    return CanGoNext() || control_.State() != PlayerControl::PlaybackState::Stopped;
}
bool Mpris::CanPause() const {
    return control_.State() != PlayerControl::PlaybackState::Stopped;
}
bool Mpris::CanSeek() const {
    return CanPause();
}

void Mpris::NoteTrack() {
    const QByteArray file = control_.TrackPath();
    trackLengthMs_ = control_.Length();
    if (file == trackFile_) {
        // The same track from its start (repeat, or Play while it plays).
        NotePositionJump(0);
        return;
    }
    trackFile_ = file;
    ++trackSerial_;
    trackTags_.clear();
    ChangesLater();
    if (file.isEmpty())
        return;
    trackTags_.insert(QStringLiteral("xesam:title"), PathText(DisplayName(file)));
    trackTags_.insert(QStringLiteral("xesam:url"), QString::fromLatin1(FileUrlOfPath(file)));
}

// The tags of the track that is still the current one: the metadata grows by
// them and the desktop is told.
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
    ChangesLater();
}

QString Mpris::TrackId() const {
    return trackFile_.isEmpty() ? NoTrack
                                : QStringLiteral("/org/example/Tolvane/Track/%1").arg(trackSerial_);
}

QVariantMap Mpris::Metadata() const {
    QVariantMap metadata = trackTags_;
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(TrackId())));
    // A device that cannot tell the length leaves it out.
    if (trackLengthMs_ >= 0 && !trackFile_.isEmpty())
        metadata.insert(QStringLiteral("mpris:length"), qlonglong(trackLengthMs_ * 1000));
    return metadata;
}

QVariantMap Mpris::PlayerProperties() const {
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

// --- telling the bus ---------------------------------------------------------

void Mpris::ChangesLater() {
    // A handler may pass through several states (a track ends, the next one
    // starts); the bus hears where it ended up.
    if (!started_ || changesPosted_)
        return;
    changesPosted_ = true;
    QMetaObject::invokeMethod(this, &Mpris::SendChanges, Qt::QueuedConnection);
}

void Mpris::SendChanges() {
    changesPosted_ = false;
    const QVariantMap now = PlayerProperties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (sent_.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    sent_ = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(MprisPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << PlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

void Mpris::NotePositionJump(qint64 ms) {
    if (!started_)
        return;
    // The device stops a seek at either end of the track.
    ms = std::max<qint64>(0, trackLengthMs_ >= 0 ? std::min(ms, trackLengthMs_) : ms);
    emit Seeked(ms * 1000);
}

// --- requests ----------------------------------------------------------------

void Mpris::SetLoopStatus(const QString& status) {
    if (status == QLatin1String("Track"))
        control_.SetPlayOrder(2);
    else if (status == QLatin1String("None") || status == QLatin1String("Playlist")) {
        // Leaving repeat means continuous play; shuffle is left alone.
        if (control_.PlayOrder() == 2)
            control_.SetPlayOrder(0);
    }
}

void Mpris::SetShuffle(bool on) {
    if (on)
        control_.SetPlayOrder(1);
    else if (control_.PlayOrder() == 1)
        control_.SetPlayOrder(0);
}

void Mpris::SetVolume(double volume) {
    if (std::isnan(volume))
        return;
    control_.SetVolumeLevel(int(std::lround(std::clamp(volume, 0.0, 1.0) * MaxVolumeLevel)));
}

void Mpris::SetRate(double rate) {
    if (rate == 0.0)
        control_.Pause();
}

void Mpris::Play() {
    control_.Play();
}

void Mpris::Pause() {
    control_.Pause();
}

void Mpris::PlayPause() {
    control_.PlayPause();
}

void Mpris::Stop() {
    control_.Stop();
}

void Mpris::Next() {
    control_.Next();
}

void Mpris::Previous() {
    control_.Previous();
}

void Mpris::Seek(qint64 offsetUs) {
    control_.SeekBy(offsetUs / 1000);
}

void Mpris::SetPosition(const QString& trackId, qint64 positionUs) {
    // A position meant for another track than the one playing is stale.
    if (trackId == TrackId() && positionUs >= 0)
        control_.SeekTo(positionUs / 1000);
}

void Mpris::OpenUri(const QString& uri) {
    // The URI's escapes carry the path's bytes, whatever their encoding.
    const QByteArray path = LocalPathOfUrl(uri.toUtf8());
    if (!path.isEmpty())
        control_.OpenPaths({AbsolutePath(path, "/")});
}

void Mpris::Raise() {
    control_.Raise();
}

void Mpris::Quit() {
    control_.Quit();
}

#include "Mpris.moc"
