// PLS lists of other players: any text reads without a crash into entries
// that are all storable full paths, and a file on disk reads as its format
// says or, when its content is no PLS, as a .plf list.

#include "FuzzSupport.h"
#include "playlist/core/PlaylistFile.h"
#include "playlist/core/PlaylistFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView text(reinterpret_cast<const char*>(data), qsizetype(size));
    const ListEntries list = ReadPls(text, "/lists");
    for (size_t i = 0; i < list.paths.size(); ++i)
        FUZZ_CHECK(IsStorablePath(list.paths[i]) && list.paths[i].startsWith('/'));

    const QByteArray file = WriteScratchFile("raw.pls", data, size);
    const PathList read = ReadPlaylistFile(file);
    if (ContentAgrees(PlaylistFormat::Pls, text))
        FUZZ_CHECK(read == ReadPls(text, ScratchFolder()).paths);
    else
        FUZZ_CHECK(read == SplitListText(text.data(), size));
    return 0;
}
