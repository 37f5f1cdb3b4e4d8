#include "playlist/core/PlaylistFormats.h"

#include "platform/PathNames.h"
#include "playlist/core/ListLines_p.h"
#include "playlist/core/PlaylistFile.h"

#include <QBuffer>
#include <QXmlStreamReader>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

constexpr QByteArrayView Bom("\xEF\xBB\xBF");

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(QByteArrayView a, QByteArrayView b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView v) {
    while (!v.isEmpty() && isBlank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && isBlank(v.back()))
        v.chop(1);
    return v;
}

QByteArrayView withoutBom(QByteArrayView text) {
    return text.startsWith(Bom) ? text.sliced(Bom.size()) : text;
}

template <class LineFn> void forEachLine(QByteArrayView text, LineFn&& line) {
    ForEachListLine(text.data(), text.data() + text.size(),
                    [&](const char* b, const char* e) { line(QByteArrayView(b, e - b)); });
}

// The first line that is not blank, trimmed.
QByteArrayView firstLine(QByteArrayView text) {
    QByteArrayView first;
    bool found = false;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end && !found) {
        const char* e = p;
        while (e < end && *e != '\n' && *e != '\r')
            ++e;
        first = trimmed(QByteArrayView(p, e - p));
        found = !first.isEmpty();
        p = e + 1;
    }
    return first;
}

// The length of a URL's scheme before its ":", or 0 when it has none.
qsizetype schemeLength(QByteArrayView v) {
    if (v.isEmpty() || !((v[0] >= 'a' && v[0] <= 'z') || (v[0] >= 'A' && v[0] <= 'Z')))
        return 0;
    for (qsizetype i = 1; i < v.size(); ++i) {
        const char c = v[i];
        if (c == ':')
            return i;
        const bool schemeChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!schemeChar)
            return 0;
    }
    return 0;
}

enum class Entry { Added, NotLocal, Skipped };

// Makes a full path of an entry of a playlist and adds it. `uri` says that
// the entry is a URI reference (XSPF), whose escapes are decoded even when it
// has no scheme; an M3U or PLS line without a scheme is the name itself.
Entry addEntry(QByteArrayView value, QByteArrayView folder, bool uri, PathList& paths) {
    value = trimmed(value);
    if (value.isEmpty())
        return Entry::Skipped;
    QByteArray path;
    const qsizetype scheme = schemeLength(value);
    if (scheme == 1) {
        // A drive letter: a name on another system, which no file here has.
        return Entry::NotLocal;
    } else if (scheme > 1) {
        if (!equalsIgnoringCase(value.first(scheme), "file"))
            return Entry::NotLocal;
        QByteArrayView rest = value.sliced(scheme + 1);
        if (rest.startsWith("//")) {
            rest = rest.sliced(2);
            const qsizetype slash = rest.indexOf('/');
            if (slash < 0)
                return Entry::NotLocal;
            const QByteArrayView host = rest.first(slash);
            if (!host.isEmpty() && !equalsIgnoringCase(host, "localhost"))
                return Entry::NotLocal;
            rest = rest.sliced(slash);
        }
        if (!rest.startsWith('/'))
            return Entry::NotLocal;
        path = QByteArray::fromPercentEncoding(rest.toByteArray());
    } else if (value.front() == '/') {
        if (!uri) {
            // Most entries: taken as they are, without a copy in between. A
            // line holds no line end, so only a NUL could make it unstorable.
            if (std::memchr(value.data(), '\0', size_t(value.size())))
                return Entry::NotLocal;
            paths.push_back(value);
            return Entry::Added;
        }
        path = QByteArray::fromPercentEncoding(value.toByteArray());
    } else {
        QByteArray relative =
            uri ? QByteArray::fromPercentEncoding(value.toByteArray()) : value.toByteArray();
        // Written on Windows: its folders are separated by backslashes.
        if (!relative.contains('/') && relative.contains('\\'))
            relative.replace('\\', '/');
        path = AbsolutePath(relative, folder);
    }
    if (!IsStorablePath(path))
        return Entry::NotLocal;
    paths.push_back(path);
    return Entry::Added;
}

void count(Entry entry, ListEntries& list) {
    if (entry == Entry::NotLocal)
        ++list.leftOut;
}

QByteArray absoluteFolderOf(const QByteArray& path) {
    QByteArray absolute = path;
    if (!absolute.startsWith('/')) {
        QByteArray cwd(PATH_MAX, '\0');
        while (!::getcwd(cwd.data(), size_t(cwd.size())) && errno == ERANGE)
            cwd.resize(cwd.size() * 2);
        cwd.truncate(qsizetype(qstrlen(cwd.constData())));
        absolute = cwd + '/' + path;
    }
    return absolute.left(absolute.lastIndexOf('/'));
}

bool isValidUtf8(QByteArrayView text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int more;
        unsigned min;
        if ((c & 0xE0) == 0xC0)
            more = 1, min = 0x80;
        else if ((c & 0xF0) == 0xE0)
            more = 2, min = 0x800;
        else if ((c & 0xF8) == 0xF0)
            more = 3, min = 0x10000;
        else
            return false;
        if (end - p <= more)
            return false;
        unsigned code = c & (0x3F >> more);
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        p += more + 1;
    }
    return true;
}

// Plain text that begins as none of the other formats does: the rest of what
// an M3U list must be, besides holding no NUL.
bool m3uBeginningAgrees(QByteArrayView text) {
    const QByteArrayView first = firstLine(withoutBom(text));
    return !first.startsWith('<') && !equalsIgnoringCase(first, "[playlist]");
}

} // namespace

PlaylistFormat PlaylistFormatByName(QByteArrayView path) {
    const qsizetype dot = path.lastIndexOf('.');
    if (dot < 0 || path.indexOf('/', dot) >= 0)
        return PlaylistFormat::Plf;
    const QByteArrayView extension = path.sliced(dot);
    if (equalsIgnoringCase(extension, ".m3u") || equalsIgnoringCase(extension, ".m3u8"))
        return PlaylistFormat::M3u;
    if (equalsIgnoringCase(extension, ".pls"))
        return PlaylistFormat::Pls;
    if (equalsIgnoringCase(extension, ".xspf"))
        return PlaylistFormat::Xspf;
    return PlaylistFormat::Plf;
}

bool IsPlaylistName(QByteArrayView path) {
    const qsizetype dot = path.lastIndexOf('.');
    const bool plf =
        dot >= 0 && path.indexOf('/', dot) < 0 && equalsIgnoringCase(path.sliced(dot), ".plf");
    return plf || PlaylistFormatByName(path) != PlaylistFormat::Plf;
}

void TellLeftOut(const QByteArray& path, size_t leftOut) {
    if (leftOut > 0)
        std::fprintf(stderr, "tolvane: %zu entries of \"%s\" left out: not local files\n", leftOut,
                     path.constData());
}

bool IsM3uName(QByteArrayView path) {
    return PlaylistFormatByName(path) == PlaylistFormat::M3u;
}

bool ContentAgrees(PlaylistFormat format, QByteArrayView text) {
    text = withoutBom(text);
    switch (format) {
    case PlaylistFormat::Plf:
        return true;
    case PlaylistFormat::M3u:
        return !text.contains('\0') && m3uBeginningAgrees(text);
    case PlaylistFormat::Pls:
        return equalsIgnoringCase(firstLine(text), "[playlist]");
    case PlaylistFormat::Xspf: {
        // Through a device, so that only the first pieces are decoded.
        QByteArray bytes = QByteArray::fromRawData(text.data(), text.size());
        QBuffer device(&bytes);
        device.open(QIODevice::ReadOnly);
        QXmlStreamReader xml(&device);
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement)
                return xml.name() == u"playlist";
        return false;
    }
    }
    return false;
}

namespace {

// Makes the entries of the M3U text that is the list's own text. A full
// path, the most common entry, stays where it lies in the text; entries made
// anew (relative names, URLs) are gathered apart and go after the text at
// the end, so that the text does not move while it is looked at.
// `hasNul` says whether the text may hold a NUL: a line holds no line end,
// so only a NUL could make it unstorable.
void indexM3u(PathList& list, QByteArrayView folder, bool hasNul, size_t& leftOut) {
    const char* base = list.text();
    const size_t size = list.textBytes();
    size_t from = QByteArrayView(base, qsizetype(size)).startsWith(Bom) ? size_t(Bom.size()) : 0;
    // Room for lines of 64 bytes on average, an #EXTINF line and a path line
    // per entry being the common case.
    list.reserveEntries(size / 64 + 16);
    PathList made;
    ForEachListLine(base + from, base + size, [&](const char* b, const char* e) {
        while (b < e && isBlank(*b))
            ++b;
        while (e > b && isBlank(e[-1]))
            --e;
        // Empty lines and comments, the extended format's #EXTINF among them.
        if (b == e || *b == '#')
            return;
        const QByteArrayView line(b, e - b);
        if (*b == '/') {
            if (hasNul && line.contains('\0'))
                ++leftOut;
            else
                list.addSpan(size_t(b - base), size_t(e - b));
            return;
        }
        const Entry entry = addEntry(line, folder, false, made);
        if (entry == Entry::NotLocal)
            ++leftOut;
        if (entry == Entry::Added) {
            const QByteArrayView path = made[made.size() - 1];
            list.addSpan(size + size_t(path.data() - made.text()), size_t(path.size()));
        }
    });
    if (made.textBytes() > 0) {
        std::memcpy(list.growText(made.textBytes()), made.text(), made.textBytes());
        list.commitText(made.textBytes());
    }
}

// The comment lines of a list read in place stay in its text, unused, until
// they outweigh the entries, when the text is squeezed.
void squeeze(PathList& list) {
    list.keepMarked(std::vector<uint8_t>(list.size(), 1));
}

} // namespace

ListEntries ReadM3u(QByteArrayView text, QByteArrayView folder) {
    ListEntries list;
    if (!text.isEmpty()) {
        std::memcpy(list.paths.growText(size_t(text.size())), text.data(), size_t(text.size()));
        list.paths.commitText(size_t(text.size()));
    }
    indexM3u(list.paths, folder, text.contains('\0'), list.leftOut);
    squeeze(list.paths);
    return list;
}

ListEntries ReadPls(QByteArrayView text, QByteArrayView folder) {
    struct Numbered {
        quint64 number;
        QByteArrayView value;
    };
    std::vector<Numbered> files;
    forEachLine(withoutBom(text), [&](QByteArrayView line) {
        line = trimmed(line);
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            return;
        const QByteArrayView key = trimmed(line.first(equals));
        if (key.size() < 5 || key.size() > 22 || !equalsIgnoringCase(key.first(4), "file"))
            return;
        quint64 number = 0;
        for (const char c : key.sliced(4)) {
            if (c < '0' || c > '9')
                return;
            number = number * 10 + quint64(c - '0');
        }
        files.push_back({number, line.sliced(equals + 1)});
    });
    // Entries go by their number, whatever order the file gives them in.
    std::stable_sort(files.begin(), files.end(),
                     [](const Numbered& a, const Numbered& b) { return a.number < b.number; });
    ListEntries list;
    for (const Numbered& file : files)
        count(addEntry(file.value, folder, false, list.paths), list);
    return list;
}

ListEntries ReadXspf(QByteArrayView text, QByteArrayView folder) {
    ListEntries list;
    // Read through a device, a piece at a time: given the whole text at
    // once, the reader turns it into one string that it grows again and
    // again, and a list of 100,000 tracks takes seconds instead of
    // milliseconds.
    QByteArray bytes = QByteArray::fromRawData(text.data(), text.size());
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    QXmlStreamReader xml(&device);
    // Only a track's own locations name its file: the playlist has one of
    // its own, and extensions may hold anything.
    enum Kind : char { TrackList, Track, Other };
    std::vector<Kind> open;
    bool added = false, refused = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = xml.name();
            const Kind parent = open.empty() ? Other : open.back();
            if (name == u"location" && parent == Track) {
                // A track may name several places of the same file; the
                // first local one is taken.
                const QByteArray location =
                    xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed().toUtf8();
                // A location cut off by the end of the file may name
                // another file than the one meant.
                if (added || xml.hasError())
                    continue;
                const Entry entry = addEntry(location, folder, true, list.paths);
                added = entry == Entry::Added;
                refused = refused || entry == Entry::NotLocal;
                continue;
            }
            Kind kind = Other;
            if (name == u"trackList" && open.size() == 1)
                kind = TrackList;
            else if (name == u"track" && parent == TrackList)
                kind = Track;
            if (kind == Track)
                added = refused = false;
            open.push_back(kind);
        } else if (token == QXmlStreamReader::EndElement && !open.empty()) {
            if (open.back() == Track && !added && refused)
                ++list.leftOut;
            open.pop_back();
        }
    }
    // A file broken off in the middle still gives the tracks before the break.
    return list;
}

std::optional<ListEntries> ReadOtherPlayersList(const QByteArray& path) {
    const PlaylistFormat format = PlaylistFormatByName(path);
    if (format == PlaylistFormat::Plf)
        return std::nullopt;
    // For an M3U list the NUL is looked for while the file is read, each
    // piece while it is in the cache, rather than in a pass of its own.
    bool holdsNul = false;
    PathList text = ReadListText(path, &holdsNul);
    const QByteArrayView bytes(text.text(), qsizetype(text.textBytes()));
    const bool agrees = format == PlaylistFormat::M3u ? !holdsNul && m3uBeginningAgrees(bytes)
                                                      : ContentAgrees(format, bytes);
    if (!agrees)
        return std::nullopt;
    const QByteArray folder = absoluteFolderOf(path);
    switch (format) {
    case PlaylistFormat::M3u: {
        ListEntries list;
        // Its content agrees: it holds no NUL.
        indexM3u(text, folder, false, list.leftOut);
        squeeze(text);
        list.paths = std::move(text);
        return list;
    }
    case PlaylistFormat::Pls:
        return ReadPls(bytes, folder);
    case PlaylistFormat::Xspf:
        return ReadXspf(bytes, folder);
    case PlaylistFormat::Plf:
        break;
    }
    return std::nullopt;
}

PathList ReadPlaylistFile(const QByteArray& path) {
    if (PlaylistFormatByName(path) == PlaylistFormat::Plf)
        return ReadListFile(path);
    std::optional<ListEntries> list = ReadOtherPlayersList(path);
    if (!list) {
        // A name that promised another format and a content that did not
        // keep it: read as any other name is, a line per entry.
        return ReadListFile(path);
    }
    TellLeftOut(path, list->leftOut);
    return std::move(list->paths);
}

QByteArray M3u8Text(const PathList& paths) {
    QByteArray text;
    text.reserve(qsizetype(paths.size()) * 24 + 8);
    text.append("#EXTM3U\n");
    for (size_t i = 0; i < paths.size(); ++i) {
        const QByteArrayView path = paths[i];
        QByteArray title = DisplayName(path.toByteArray());
        if (!isValidUtf8(title))
            title = QString::fromUtf8(title).toUtf8();
        text.append("#EXTINF:-1,").append(title).append('\n');
        // A reader takes a line as it is, less the blanks at its ends, and in
        // UTF-8; a name that would not survive that goes as a URL, whose
        // escapes carry any byte.
        const bool plain = !path.startsWith('/') || (!isBlank(path.back()) && isValidUtf8(path));
        if (plain)
            text.append(path);
        else
            text.append("file://").append(path.toByteArray().toPercentEncoding("/"));
        text.append('\n');
    }
    return text;
}

void SavePlaylistFile(const QByteArray& path, const PathList& paths) {
    if (IsM3uName(path))
        SaveListBytes(path, M3u8Text(paths));
    else
        SaveListFile(path, paths);
}
