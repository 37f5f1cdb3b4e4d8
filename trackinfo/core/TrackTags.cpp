#include "trackinfo/core/TrackTags.h"

#include <algorithm>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <taglib/aifffile.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tdebuglistener.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>
#include <unistd.h>

namespace {

// TagLib reports every oddity of a broken file on stderr; a damaged file is
// an ordinary thing in a music collection, and it simply has fewer tags.
class QuietTagLib : public TagLib::DebugListener {
public:
    void printMessage(const TagLib::String&) override {}
};

void quietTagLib() {
    static QuietTagLib quiet;
    static std::once_flag once;
    std::call_once(once, [] { TagLib::setDebugListener(&quiet); });
}

// Tag texts go to the desktop as they are, so they are kept free of the
// zero characters and line breaks a hostile file may put there, and short.
QString text(const TagLib::String& value) {
    QString result = QString::fromStdWString(value.toWString());
    for (QChar& c : result)
        if (c.category() == QChar::Other_Control)
            c = u' ';
    result = result.trimmed();
    if (result.size() > MaxTagTextLength) {
        qsizetype end = MaxTagTextLength;
        if (result.at(end - 1).isHighSurrogate())
            --end;
        result.truncate(end);
    }
    return result.trimmed();
}

void appendValues(QStringList& list, const TagLib::StringList& values) {
    for (const TagLib::String& value : values) {
        if (list.size() >= MaxTagValues)
            return;
        if (const QString t = text(value); !t.isEmpty() && !list.contains(t))
            list.append(t);
    }
}

// Several artists or genres are separate values in most formats; the plain
// tag interface joins them, so the property map is asked first.
QStringList values(const TagLib::PropertyMap& properties, const char* key,
                   const TagLib::String& joined) {
    QStringList list;
    const auto found = properties.find(key);
    if (found != properties.end())
        appendValues(list, found->second);
    if (list.isEmpty())
        appendValues(list, TagLib::StringList(joined));
    return list;
}

QByteArray bytesOf(const TagLib::ByteVector& data) {
    if (data.isEmpty() || data.size() > static_cast<unsigned int>(MaxPictureBytes))
        return {};
    return QByteArray(data.data(), qsizetype(data.size()));
}

QByteArray id3v2Picture(TagLib::ID3v2::Tag* tag) {
    if (!tag)
        return {};
    QByteArray first;
    for (TagLib::ID3v2::Frame* frame : tag->frameList("APIC")) {
        const auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (!picture)
            continue;
        const QByteArray bytes = bytesOf(picture->picture());
        if (!bytes.isEmpty() && picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover)
            return bytes;
        if (first.isEmpty())
            first = bytes;
    }
    return first;
}

QByteArray asfPicture(TagLib::ASF::Tag* tag) {
    if (!tag)
        return {};
    QByteArray first;
    for (const TagLib::ASF::Attribute& attribute : tag->attribute("WM/Picture")) {
        const TagLib::ASF::Picture picture = attribute.toPicture();
        if (!picture.isValid())
            continue;
        const QByteArray bytes = bytesOf(picture.picture());
        if (!bytes.isEmpty() && picture.type() == TagLib::ASF::Picture::FrontCover)
            return bytes;
        if (first.isEmpty())
            first = bytes;
    }
    return first;
}

QByteArray flacPicture(const TagLib::List<TagLib::FLAC::Picture*>& pictures) {
    QByteArray first;
    for (const TagLib::FLAC::Picture* picture : pictures) {
        const QByteArray bytes = bytesOf(picture->data());
        if (!bytes.isEmpty() && picture->type() == TagLib::FLAC::Picture::FrontCover)
            return bytes;
        if (first.isEmpty())
            first = bytes;
    }
    return first;
}

QByteArray mp4Picture(TagLib::MP4::Tag* tag) {
    if (!tag || !tag->contains("covr"))
        return {};
    for (const TagLib::MP4::CoverArt& art : tag->item("covr").toCoverArtList())
        if (const QByteArray bytes = bytesOf(art.data()); !bytes.isEmpty())
            return bytes;
    return {};
}

QByteArray embeddedPicture(TagLib::File* file) {
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file))
        return mpeg->hasID3v2Tag() ? id3v2Picture(mpeg->ID3v2Tag()) : QByteArray();
    if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file))
        return asfPicture(asf->tag());
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file))
        return wav->hasID3v2Tag() ? id3v2Picture(wav->ID3v2Tag()) : QByteArray();
    if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file))
        return aiff->hasID3v2Tag() ? id3v2Picture(aiff->tag()) : QByteArray();
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
        if (QByteArray bytes = flacPicture(flac->pictureList()); !bytes.isEmpty())
            return bytes;
        return flac->hasID3v2Tag() ? id3v2Picture(flac->ID3v2Tag()) : QByteArray();
    }
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file))
        return mp4Picture(mp4->tag());
    // Vorbis, Opus, Speex and Ogg FLAC keep their pictures in the comment.
    if (auto* comment = dynamic_cast<TagLib::Ogg::XiphComment*>(file ? file->tag() : nullptr))
        return flacPicture(comment->pictureList());
    return {};
}

// Sets the fields of `tags` that are still blank from `tag`.
void fillBlanks(TrackTags& tags, const TagLib::Tag* tag, const TagLib::PropertyMap& properties) {
    if (!tag)
        return;
    if (tags.Title.isEmpty())
        tags.Title = text(tag->title());
    if (tags.Artists.isEmpty())
        tags.Artists = values(properties, "ARTIST", tag->artist());
    if (tags.Album.isEmpty())
        tags.Album = text(tag->album());
    if (tags.AlbumArtists.isEmpty())
        tags.AlbumArtists = values(properties, "ALBUMARTIST", {});
    if (tags.Genres.isEmpty())
        tags.Genres = values(properties, "GENRE", tag->genre());
    // Numbers beyond these are a damaged field, not a track or a year.
    if (tags.TrackNumber == 0 && tag->track() <= 99999)
        tags.TrackNumber = int(tag->track());
    if (tags.Year == 0 && tag->year() <= 9999)
        tags.Year = int(tag->year());
}

// A Windows Media file's header is a list of objects, each with its size,
// and some of them hold records, with a 16-bit count of them. TagLib reads
// what a damaged header claims, past the end of an object or of the file: a
// file of 400 to 600 bytes kept it 100 to 210 ms (seconds under a
// sanitizer), an object claiming 65535 records, a header longer than the
// file, an object larger than the header. A header whose objects do not fit
// in it, or whose counts do not fit in their objects, is damaged: it is not
// read.
bool asfCountsFit(TagLib::IOStream* stream) {
    static const TagLib::ByteVector header("\x30\x26\xB2\x75\x8E\x66\xCF\x11"
                                           "\xA6\xD9\x00\xAA\x00\x62\xCE\x6C",
                                           16);
    static const TagLib::ByteVector extension("\xB5\x03\xBF\x5F\x2E\xA9\xCF\x11"
                                              "\x8E\xE3\x00\xC0\x0C\x20\x53\x65",
                                              16);
    // The objects of counted records, with the fixed bytes of each record.
    static const std::pair<TagLib::ByteVector, unsigned> counted[] = {
        {TagLib::ByteVector("\x40\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50",
                            16),
         6}, // extended content description
        {TagLib::ByteVector("\xEA\xCB\xF8\xC5\xAF\x5B\x77\x48\x84\x67\xAA\x8C\x44\xFA\x4C\xCA",
                            16),
         12}, // metadata
        {TagLib::ByteVector("\x94\x1C\x23\x44\x98\x94\xD1\x49\xA1\x41\x1D\x13\x4E\x45\x70\x54",
                            16),
         12}, // metadata library
    };
    constexpr unsigned long long Largest = 64ull << 20;
    stream->seek(0);
    const TagLib::ByteVector start = stream->readBlock(30);
    stream->seek(0);
    if (start.size() < 30 || start.mid(0, 16) != header)
        return true;
    const unsigned long long size = start.toLongLong(16, false);
    if (size < 30 || size > Largest)
        return false;
    const TagLib::ByteVector data = stream->readBlock(static_cast<unsigned long>(size));
    stream->seek(0);
    if (data.size() < size)
        return false;
    // Walks the objects from offset to end, and those of a header extension
    // among them (one level, as TagLib reads them); false at a count that
    // cannot fit.
    const auto fits = [&](unsigned long long offset, unsigned long long end, bool top,
                          const auto& inner) -> bool {
        while (offset + 24 <= end) {
            const TagLib::ByteVector guid = data.mid(offset, 16);
            const unsigned long long length = data.toLongLong(offset + 16, false);
            if (length < 24 || length > end - offset)
                return false;
            if (top && guid == extension && length >= 46 &&
                !inner(offset + 46, offset + length, false, inner))
                return false;
            for (const auto& [kind, fixed] : counted)
                if (guid == kind && length >= 26 &&
                    data.toUShort(offset + 24, false) * static_cast<unsigned long long>(fixed) >
                        length - 26)
                    return false;
            offset += length;
        }
        return true;
    };
    return fits(30, data.size(), true, fits);
}

TrackTags readStream(TagLib::IOStream* stream, QByteArray* picture) {
    quietTagLib();
    if (picture)
        picture->clear();
    if (!asfCountsFit(stream))
        return {};
    TrackTags tags;
    try {
        const TagLib::FileRef ref(stream, true, TagLib::AudioProperties::Average);
        if (ref.isNull())
            return {};
        fillBlanks(tags, ref.tag(), ref.file()->properties());
        // A WAV file's own tag interface shows its ID3v2 chunk alone; the RIFF
        // INFO list that most WAV writers use fills what that leaves blank.
        if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(ref.file());
            wav && wav->hasInfoTag())
            fillBlanks(tags, wav->InfoTag(), wav->InfoTag()->properties());
        if (const TagLib::AudioProperties* audio = ref.audioProperties())
            tags.LengthMs = std::max(0, audio->lengthInMilliseconds());
        if (picture)
            *picture = embeddedPicture(ref.file());
    } catch (const std::exception&) {
        // Out of memory on a file that claims a giant frame: no tags.
        if (picture)
            picture->clear();
        return {};
    }
    return tags;
}

} // namespace

TrackTags ReadTrackTags(const QByteArray& path, QByteArray* picture) {
    if (picture)
        picture->clear();
    // As ReadOnlyFile opens: by the name's bytes, never waiting on a FIFO
    // for a writer, and only a regular file is read at all (a device or a
    // pipe under a media name would keep the reading thread forever).
    if (path.isEmpty() || path.contains('\0'))
        return {};
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {};
    }
    // The stream takes the descriptor over and closes it, once it could
    // open a stream on it.
    TagLib::FileStream stream(fd, true);
    if (!stream.isOpen()) {
        ::close(fd);
        return {};
    }
    return readStream(&stream, picture);
}

TrackTags ReadTrackTagsFromBytes(const QByteArray& bytes, QByteArray* picture) {
    TagLib::ByteVectorStream stream(
        TagLib::ByteVector(bytes.constData(), static_cast<unsigned int>(bytes.size())));
    return readStream(&stream, picture);
}
