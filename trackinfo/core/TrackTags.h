#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the desktop is told about a track: the texts of whatever tag the file
// carries (ID3v2 or ID3v1 in MP3, ASF in WMA, RIFF INFO or ID3v2 in WAV, and
// the tags of every other format TagLib reads) and the length its headers
// state. Empty texts and zero numbers where the file says nothing.
//
// This is not the file info window's tag: that window shows the ID3v1 block
// byte for byte (Id3v1.h).
struct TrackTags {
    QString Title;
    QStringList Artists;
    QString Album;
    QStringList AlbumArtists;
    int TrackNumber = 0;
    QStringList Genres;
    int Year = 0;
    qint64 LengthMs = 0;

    bool operator==(const TrackTags&) const = default;
    bool IsEmpty() const { return *this == TrackTags{}; }
};

// Tags come from files nobody checked: every text is cut to this many
// characters and every list to this many values, and a picture larger than
// this is left alone.
constexpr qsizetype MaxTagTextLength = 512;
constexpr qsizetype MaxTagValues = 16;
constexpr qsizetype MaxPictureBytes = 16 * 1024 * 1024;

// Reads the tags of the regular file at `path` (by its bytes; names need not
// be UTF-8). A file that cannot be opened, is no regular file, or whose
// content TagLib does not know or cannot make sense of gives empty tags; it
// never throws. When `picture` is given, it receives the bytes of the
// picture stored in the file (the front cover where the tag says which one
// that is, else the first), or is emptied when there is none.
TrackTags ReadTrackTags(const QByteArray& path, QByteArray* picture = nullptr);

// The same for a file's bytes held in memory; the format is told by content.
TrackTags ReadTrackTagsFromBytes(const QByteArray& bytes, QByteArray* picture = nullptr);
