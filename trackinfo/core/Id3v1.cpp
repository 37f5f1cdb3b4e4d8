#include "trackinfo/core/Id3v1.h"

#include "trackinfo/core/ReadOnlyFile.h"
#include "trackinfo/core/Windows1252.h"

// clang-format off
static constexpr const char* Names[] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient",
    "Trip-Hop", "Vocal", "Jazz+Funk",
    "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip",
    "Gospel", "Noise",
    "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic",
    "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
    "Southern Rock", "Comedy", "Cult", "Gangsta",
    "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychadelic", "Rave", "Showtunes",
    "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock",
    "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival",
    "Celtic", "Bluegrass",
    "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock",
    "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass",
    "Primus", "Porn Groove",
    "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhythmic Soul", "Freestyle",
    "Duet", "Punk Rock", "Drum Solo", "Acapella", "Euro-House", "Dance Hall", "Goa",
    "Drum & Bass", "Club-House", "Hardcore",
    "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap",
    "Heavy Metal", "Black Metal", "Crossover",
    "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Trash Metal", "Anime",
    "Jpop", "Synthpop",
};
// clang-format on
static_assert(std::size(Names) == 148, "one name for each genre byte 0..147");

const std::array<const char*, 148> GenreNames = std::to_array(Names);

QString GenreName(unsigned char genre) {
    if (genre < GenreNames.size())
        return QString::fromLatin1(GenreNames[genre]);
    return QStringLiteral("Other");
}

namespace {

constexpr qint64 TagSize = 128;

// A text field is its bytes up to the first zero byte; the padding blanks
// that many taggers write stay, as the user's tag holds them.
QString fieldText(const QByteArray& block, qsizetype offset, qsizetype length) {
    const QByteArrayView field = QByteArrayView(block).sliced(offset, length);
    const qsizetype zero = field.indexOf('\0');
    return Windows1252Text(zero < 0 ? field : field.first(zero));
}

} // namespace

Id3v1Info ReadId3v1Tag(const QByteArray& path) {
    QByteArray block;
    {
        const ReadOnlyFile file(path);
        // A file shorter than a tag holds none; reading before its start would
        // leave part of the block unread.
        if (file.Size() < TagSize)
            return {};
        block = file.ReadAt(file.Size() - TagSize, TagSize);
    }
    // The marker is compared with case: "tag" or "Tag" is some other data.
    if (block.size() < TagSize || !block.startsWith("TAG"))
        return {};
    Id3v1Info info;
    info.Title = fieldText(block, 3, 30);
    info.Artist = fieldText(block, 33, 30);
    info.Album = fieldText(block, 63, 30);
    info.Year = fieldText(block, 93, 4);
    // The comment spans all 30 bytes: a track number stored behind a zero
    // byte in its last two bytes ends the text there and is never shown.
    info.Comment = fieldText(block, 97, 30);
    info.Genre = GenreName(static_cast<unsigned char>(block[127]));
    return info;
}
