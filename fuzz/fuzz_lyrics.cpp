// Lyric text from any bytes: the decoded text is never longer than the bytes
// allow, it is either the UTF-8 the bytes spell (less an initial byte order
// mark, and less a character cut off where a long file was cut) or one
// Windows-1252 character per byte; its lines hold no line ends and split the
// same again once each is ended by LF.

#include "FuzzSupport.h"
#include "playlist/core/Lyrics.h"
#include "trackinfo/core/Windows1252.h"

#include <set>

// No two bytes decode to the same character, so nothing of a tag or a lyric
// file is lost in its text.
static bool windows1252IsOneToOne() {
    std::set<char16_t> seen;
    for (int b = 0; b < 256; ++b) {
        const char byte = char(b);
        const QString text = Windows1252Text(QByteArrayView(&byte, 1));
        if (text.size() != 1 || !seen.insert(text[0].unicode()).second)
            return false;
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool oneToOne = windows1252IsOneToOne();
    FUZZ_CHECK(oneToOne);
    if (size == 0)
        return 0;
    // The first byte says whether the bytes are the cut-off start of a file.
    const bool truncated = data[0] & 1;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    const QString text = LyricFileText(bytes, truncated);
    FUZZ_CHECK(text.size() <= bytes.size());
    const QString singleByte = Windows1252Text(bytes);
    FUZZ_CHECK(singleByte.size() == bytes.size());
    if (text != singleByte) {
        QByteArray utf8 = text.toUtf8();
        if (bytes.startsWith("\xEF\xBB\xBF"))
            utf8.prepend("\xEF\xBB\xBF");
        FUZZ_CHECK(bytes.startsWith(utf8));
        FUZZ_CHECK(utf8.size() == bytes.size() || (truncated && bytes.size() - utf8.size() < 4));
    }

    const QStringList lines = SplitLyricLines(text);
    qsizetype kept = 0;
    for (const QString& line : lines) {
        FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'));
        kept += line.size();
    }
    FUZZ_CHECK(kept + qsizetype(lines.size()) <= text.size() + 1);
    QString rejoined;
    for (const QString& line : lines)
        rejoined += line + u'\n';
    FUZZ_CHECK(SplitLyricLines(rejoined) == lines);
    return 0;
}
