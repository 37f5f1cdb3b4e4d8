#include "playlist/core/Lyrics.h"

#include "platform/PathNames.h"
#include "trackinfo/core/ReadOnlyFile.h"
#include "trackinfo/core/Windows1252.h"

#include <QStringDecoder>
#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

QByteArray AsciiLower(const QByteArray& path) {
    QByteArray lower = path;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return lower;
}

static bool isRegularFile(const QByteArray& path) {
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode);
}

// Whether two names are the same but for case: ASCII letters always, other
// letters too when both names are valid UTF-8.
static bool sameIgnoringCase(const QByteArray& a, const QByteArray& b) {
    if (AsciiLower(a) == AsciiLower(b))
        return true;
    QStringDecoder first(QStringDecoder::Utf8), second(QStringDecoder::Utf8);
    const QString textA = first.decode(a), textB = second.decode(b);
    return !first.hasError() && !second.hasError() &&
           textA.compare(textB, Qt::CaseInsensitive) == 0;
}

// The regular file of `folder` (which ends with "/", or is empty for the
// current folder) whose name equals `name` but for case. Of several, the
// lower-cased name wins (where lyric files were always looked for), then the
// first in byte order, so that the choice does not hang on the listing order.
static std::optional<QByteArray> findIgnoringCase(const QByteArray& folder,
                                                  const QByteArray& name) {
    DIR* dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
    if (!dir)
        return std::nullopt;
    std::vector<QByteArray> matches;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray candidate(entry->d_name);
        if (sameIgnoringCase(candidate, name) && isRegularFile(folder + candidate))
            matches.push_back(candidate);
    }
    ::closedir(dir);
    if (matches.empty())
        return std::nullopt;
    const QByteArray lower = AsciiLower(name);
    const auto lowerFound = std::find(matches.begin(), matches.end(), lower);
    return folder + (lowerFound != matches.end()
                         ? *lowerFound
                         : *std::min_element(matches.begin(), matches.end()));
}

std::optional<QByteArray> FindLyricFile(const QByteArray& mediaPath) {
    // A NUL would end the name for the file system, and the part before it
    // may be some other file that is there.
    if (mediaPath.isEmpty() || mediaPath.contains('\0'))
        return std::nullopt;
    const QByteArray asItStands = mediaPath + ".txt";
    if (isRegularFile(asItStands))
        return asItStands;
    // Lower-casing the folders too would miss every lyric file under a
    // folder such as ~/Music, so the name is looked for in the folder as it
    // stands, whatever its case, before the wholly lower-cased path.
    const qsizetype nameStart = asItStands.lastIndexOf('/') + 1;
    if (auto found = findIgnoringCase(asItStands.left(nameStart), asItStands.mid(nameStart)))
        return found;
    const QByteArray lower = AsciiLower(asItStands);
    if (isRegularFile(lower))
        return lower;
    return std::nullopt;
}

// Length of the complete UTF-8 text in `bytes` when only its end may hold
// the first bytes of a character that the read cut off.
static qsizetype withoutCutCharacter(const QByteArray& bytes) {
    const qsizetype n = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= n; ++back) {
        const auto b = static_cast<unsigned char>(bytes[n - back]);
        if ((b & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for the lead
        const int need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        return need > back ? n - back : n;
    }
    return n;
}

QString LyricFileText(const QByteArray& bytes, bool truncated) {
    const QByteArrayView whole =
        QByteArrayView(bytes).first(truncated ? withoutCutCharacter(bytes) : bytes.size());
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(whole);
    if (!utf8.hasError())
        return text;
    return Windows1252Text(bytes);
}

QStringList SplitLyricLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines << text.mid(start, i - start);
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

QString LyricNotFoundText(const QByteArray& mediaPath) {
    const QString name = PathText(DisplayName(AsciiLower(mediaPath)));
    return QStringLiteral("\nLyric file is not found for\n\"%1\"").arg(name);
}

QString LyricViewText(const QByteArray& mediaPath) {
    const std::optional<QByteArray> lyricPath = FindLyricFile(mediaPath);
    if (!lyricPath)
        return LyricNotFoundText(mediaPath);
    QByteArray bytes;
    bool truncated = false;
    try {
        const ReadOnlyFile file(*lyricPath);
        bytes = file.ReadAt(0, std::min(file.Size(), MaxLyricFileBytes));
        truncated = file.Size() > MaxLyricFileBytes;
    } catch (const EFOpenError&) {
        return LyricNotFoundText(mediaPath);
    }
    // One empty line before the first line of the text.
    return (QStringList{QString()} + SplitLyricLines(LyricFileText(bytes, truncated)))
        .join(QLatin1Char('\n'));
}
