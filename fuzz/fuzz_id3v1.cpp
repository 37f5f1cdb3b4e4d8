// The ID3v1 reader on any file: without the marker in a whole last block of
// 128 bytes there are six empty texts; with it, every text is its field's
// bytes up to the first zero byte, one character per byte, never longer
// than the field, and the genre is a name of the table or "Other".

#include "FuzzSupport.h"
#include "trackinfo/core/Id3v1.h"
#include "trackinfo/core/Windows1252.h"

#include <algorithm>

// Whether `text` holds the bytes of the field, up to its first zero byte, one
// character for each byte.
static bool isField(const QString& text, const uint8_t* field, qsizetype length) {
    const auto* bytes = reinterpret_cast<const char*>(field);
    const qsizetype used = std::find(bytes, bytes + length, '\0') - bytes;
    return text.size() <= length && text.size() == used && !text.contains(QChar(0)) &&
           text == Windows1252Text(QByteArrayView(bytes, used));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Id3v1Info info = ReadId3v1Tag(WriteScratchFile("tag.mp3", data, size));
    const uint8_t* block = size >= 128 ? data + size - 128 : nullptr;
    if (!block || std::string_view(reinterpret_cast<const char*>(block), 3) != "TAG") {
        FUZZ_CHECK(info == Id3v1Info{});
        return 0;
    }
    FUZZ_CHECK(isField(info.Title, block + 3, 30));
    FUZZ_CHECK(isField(info.Artist, block + 33, 30));
    FUZZ_CHECK(isField(info.Album, block + 63, 30));
    FUZZ_CHECK(isField(info.Year, block + 93, 4));
    FUZZ_CHECK(isField(info.Comment, block + 97, 30));
    const uint8_t genre = block[127];
    FUZZ_CHECK(info.Genre == (genre < GenreNames.size() ? QString::fromLatin1(GenreNames[genre])
                                                        : QStringLiteral("Other")));
    return 0;
}
