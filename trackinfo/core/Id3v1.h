#pragma once

#include <QByteArray>
#include <QString>
#include <array>

// The six texts of an ID3v1 tag, as they are shown. A file without a tag
// gives six empty texts.
struct Id3v1Info {
    QString Title;
    QString Artist;
    QString Album;
    QString Year;
    QString Genre;
    QString Comment;

    bool operator==(const Id3v1Info&) const = default;
};

// The genre names by genre byte: the format's own list (0..79) and its
// widely used extension (80..147).
extern const std::array<const char*, 148> GenreNames;

// The name shown for a genre byte; bytes past the table read "Other".
QString GenreName(unsigned char genre);

// Reads the tag in the last 128 bytes of the file at `path`. A file without
// the marker "TAG" there, or shorter than a tag, gives six empty texts.
// Throws EFOpenError (trackinfo/ReadOnlyFile.h) when the file cannot be
// opened or read; the file is closed in every case. The file is opened with
// plain read access and no lock (ReadOnlyFile tells why).
Id3v1Info ReadId3v1Tag(const QByteArray& path);
