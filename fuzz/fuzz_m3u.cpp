// M3U and M3U8 lists of other players: any text reads without a crash into
// entries that are all storable full paths, a file on disk reads as its
// format says or as a .plf list, and every list of absolute storable paths
// that M3U8 export writes reads back the same, byte for byte.

#include "FuzzSupport.h"
#include "playlist/core/PlaylistFile.h"
#include "playlist/core/PlaylistFormats.h"

#include <fuzzer/FuzzedDataProvider.h>

static bool allStorableAndFull(const PathList& paths) {
    for (size_t i = 0; i < paths.size(); ++i)
        if (!IsStorablePath(paths[i]) || !paths[i].startsWith('/'))
            return false;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView text(reinterpret_cast<const char*>(data), qsizetype(size));
    const ListEntries list = ReadM3u(text, "/lists");
    FUZZ_CHECK(allStorableAndFull(list.paths));

    const QByteArray file = WriteScratchFile("raw.m3u8", data, size);
    const PathList read = ReadPlaylistFile(file);
    if (ContentAgrees(PlaylistFormat::M3u, text))
        FUZZ_CHECK(allStorableAndFull(read));
    else
        FUZZ_CHECK(read == SplitListText(text.data(), size));

    FuzzedDataProvider provider(data, size);
    PathList paths;
    while (provider.remaining_bytes() > 0) {
        const std::string piece = provider.ConsumeRandomLengthString();
        const QByteArray path = '/' + QByteArray(piece.data(), qsizetype(piece.size()));
        if (IsStorablePath(path))
            paths.push_back(path);
    }
    const QByteArray written = M3u8Text(paths);
    FUZZ_CHECK(ContentAgrees(PlaylistFormat::M3u, written));
    const ListEntries back = ReadM3u(written, "/elsewhere");
    FUZZ_CHECK(back.leftOut == 0);
    FUZZ_CHECK(back.paths == paths);
    return 0;
}
