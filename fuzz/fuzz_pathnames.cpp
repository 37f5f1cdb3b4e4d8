// The path helpers on any bytes: the display name is the part after the last
// delimiter, the extension a "." and what follows it within that name, the
// media test the lower-cased extension's membership, and the lyric-file
// lookup finds only files that are there, beside the media path.

#include "FuzzSupport.h"
#include "playlist/core/Lyrics.h"
#include "playlist/core/MediaSearch.h"
#include "playlist/core/Playlist.h"

#include <algorithm>
#include <sys/stat.h>

// The character that ends the folder part of a path for DisplayName: "/"
// alone, since ":" and "\\" are ordinary characters of Linux names.
static bool isNameDelimiter(char c) {
    return c == '/';
}

static bool isRegularFile(const QByteArray& path) {
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode);
}

// Lyric files of a media folder: one spelled with capitals, one in lower
// case, one in a subfolder.
static void makeLyricFolder() {
    static const bool made = [] {
        const QByteArray folder = ScratchFolder();
        ::mkdir((folder + "/Dir").constData(), 0700);
        for (const char* name : {"Song.MP3.txt", "track.mp3.txt", "Dir/a.wav.txt"})
            WriteScratchFile(name, reinterpret_cast<const uint8_t*>("la"), 2);
        return true;
    }();
    (void)made;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray path(reinterpret_cast<const char*>(data), qsizetype(size));

    const QByteArray name = DisplayName(path);
    FUZZ_CHECK(path.endsWith(name));
    FUZZ_CHECK(std::none_of(name.begin(), name.end(), isNameDelimiter));
    FUZZ_CHECK(name.size() == path.size() || isNameDelimiter(path[path.size() - name.size() - 1]));

    const QByteArray extension = PathExtension(path);
    const qsizetype nameStart =
        std::find_if(path.rbegin(), path.rend(), isNameDelimiter).base() - path.begin();
    FUZZ_CHECK(!extension.isEmpty() == (path.lastIndexOf('.') >= nameStart));
    FUZZ_CHECK(name.endsWith(extension));
    FUZZ_CHECK(extension.isEmpty() ||
               (extension.startsWith('.') && extension.count('.') == 1 &&
                std::none_of(extension.begin(), extension.end(), isNameDelimiter)));
    const QByteArray lower = AsciiLower(path);
    FUZZ_CHECK(lower.size() == path.size() && AsciiLower(lower) == lower);
    const bool media = IsMediaFile(path);
    FUZZ_CHECK(media == (std::find(MediaExtensions.begin(), MediaExtensions.end(),
                                   AsciiLower(extension)) != MediaExtensions.end()));
    FUZZ_CHECK(IsMediaFile(lower) == media && IsMediaFile(path.toUpper()) == media);

    makeLyricFolder();
    const QByteArray mediaPath = ScratchFolder() + '/' + path;
    if (const auto lyric = FindLyricFile(mediaPath)) {
        FUZZ_CHECK(!lyric->contains('\0') && isRegularFile(*lyric));
        FUZZ_CHECK(*lyric == mediaPath + ".txt" ||
                   AsciiLower(*lyric) == AsciiLower(mediaPath + ".txt"));
    } else {
        FUZZ_CHECK(AsciiLower(path) != "track.mp3" && path != "Song.MP3" && path != "Dir/a.wav");
    }
    return 0;
}
