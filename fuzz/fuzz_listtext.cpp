// The splitter of playlist text: whatever bytes a playlist file holds, the
// lines are those of the text before its first NUL, with CR LF, CR and LF
// each ending one line, and a playlist written from them splits the same.

#include "FuzzSupport.h"
#include "playlist/core/PlaylistFile.h"

#include <QList>

#include <cstring>

// The expected lines by another road: every line end made one LF, then
// split at LF; a final line end adds no line.
static std::vector<QByteArray> expectedLines(const char* text, size_t size) {
    const void* nul = std::memchr(text, '\0', size);
    QByteArray normal(text, nul ? static_cast<const char*>(nul) - text : qsizetype(size));
    if (normal.isEmpty())
        return {};
    normal.replace("\r\n", "\n").replace('\r', '\n');
    if (normal.endsWith('\n'))
        normal.chop(1);
    std::vector<QByteArray> lines;
    for (const QByteArray& line : normal.split('\n'))
        lines.push_back(line);
    return lines;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto* text = reinterpret_cast<const char*>(data);
    const std::vector<QByteArray> lines = SplitListText(text, size).toVector();
    FUZZ_CHECK(lines == expectedLines(text, size));

    QByteArray written;
    for (const QByteArray& line : lines) {
        FUZZ_CHECK(!line.contains('\r') && !line.contains('\n') && !line.contains('\0'));
        written.append(line).append("\r\n");
    }
    FUZZ_CHECK(SplitListText(written.constData(), size_t(written.size())).toVector() == lines);
    return 0;
}
