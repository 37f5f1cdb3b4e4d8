// The tag reader on any bytes, told by content what they are: whatever
// TagLib makes of them, every text is short and free of control characters,
// every list holds a few distinct values, the numbers are in their ranges
// and a picture is no larger than the reader allows.

#include "FuzzSupport.h"
#include "trackinfo/core/TrackTags.h"

#include <QStringList>

static bool isTagText(const QString& text) {
    if (text.size() > MaxTagTextLength || text != text.trimmed())
        return false;
    for (QChar c : text)
        if (c.category() == QChar::Other_Control)
            return false;
    return true;
}

static bool isTagList(QStringList list) {
    if (list.size() > MaxTagValues || list.removeDuplicates() != 0)
        return false;
    for (const QString& value : list)
        if (value.isEmpty() || !isTagText(value))
            return false;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray picture("left over");
    const TrackTags tags = ReadTrackTagsFromBytes(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)), &picture);
    FUZZ_CHECK(isTagText(tags.Title));
    FUZZ_CHECK(isTagText(tags.Album));
    FUZZ_CHECK(isTagList(tags.Artists));
    FUZZ_CHECK(isTagList(tags.AlbumArtists));
    FUZZ_CHECK(isTagList(tags.Genres));
    FUZZ_CHECK(tags.TrackNumber >= 0 && tags.TrackNumber <= 99999);
    FUZZ_CHECK(tags.Year >= 0 && tags.Year <= 9999);
    FUZZ_CHECK(tags.LengthMs >= 0);
    FUZZ_CHECK(picture != "left over" && picture.size() <= MaxPictureBytes);
    FUZZ_CHECK(picture.size() <= qsizetype(size));
    return 0;
}
