// Playlist files on disk: any file reads as the splitter splits its bytes
// (and says whether a NUL cut it short), and every list of storable paths
// saved reads back the same, byte for byte.

#include "FuzzSupport.h"
#include "playlist/core/PlaylistFile.h"

#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray raw = WriteScratchFile("raw.plf", data, size);
    bool cutShort = false;
    FUZZ_CHECK(ReadListFile(raw, &cutShort) ==
               SplitListText(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(cutShort == (std::memchr(data, '\0', size) != nullptr));

    // The same bytes read as a list of paths, one path per random-length
    // piece, so that paths can hold every byte, line ends and NUL included.
    FuzzedDataProvider provider(data, size);
    std::vector<QByteArray> paths;
    while (provider.remaining_bytes() > 0) {
        const std::string piece = provider.ConsumeRandomLengthString();
        const QByteArray path(piece.data(), qsizetype(piece.size()));
        if (IsStorablePath(path))
            paths.push_back(path);
    }
    const QByteArray saved = ScratchFolder() + "/saved.plf";
    SaveListFile(saved, paths);
    FUZZ_CHECK(ReadListFile(saved).toVector() == paths);
    return 0;
}
