#pragma once

#include "playlist/core/PathList.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// Playlists written by other players: M3U and M3U8 (plain and extended), PLS
// and XSPF. They are known by their extension (.m3u, .m3u8, .pls, .xspf, in
// any case) when their content agrees; every other file is a .plf list.
//
// Their entries become full paths: relative ones are taken from the
// playlist's folder, file:// URLs are decoded to the bytes of the name (a
// name need not be UTF-8). Entries that name no local file (http: and the
// like) and entries no playlist line can hold are left out and counted.

enum class PlaylistFormat { Plf, M3u, Pls, Xspf };

// The format that the name alone promises; Plf for every other name.
PlaylistFormat PlaylistFormatByName(QByteArrayView path);

// Whether the text is what a file of that format holds; a .plf holds any.
bool ContentAgrees(PlaylistFormat format, QByteArrayView text);

struct ListEntries {
    PathList paths;
    size_t leftOut = 0; // entries that name no local file or cannot be stored
};

// The readers, given the text of the file and the folder that relative
// entries are taken from (an absolute path without a final "/").
ListEntries ReadM3u(QByteArrayView text, QByteArrayView folder);
ListEntries ReadPls(QByteArrayView text, QByteArrayView folder);
ListEntries ReadXspf(QByteArrayView text, QByteArrayView folder);

// Reads a playlist of another player, or gives nothing when the file is not
// one by its name and content. Throws EFileError as ReadListFile does.
std::optional<ListEntries> ReadOtherPlayersList(const QByteArray& path);

// Reads any playlist file: another player's by its format, every other one
// as a .plf list. Entries left out are told in one line on stderr.
// Throws EFileError; nothing is returned unless the whole file was read.
PathList ReadPlaylistFile(const QByteArray& path);

// Whether the name is that of a playlist file: .plf or another player's.
bool IsPlaylistName(QByteArrayView path);

// Tells on stderr, in one line, how many entries of a playlist were left out.
void TellLeftOut(const QByteArray& path, size_t leftOut);

// Whether a list saved under this name is written as M3U8 (.m3u, .m3u8).
bool IsM3uName(QByteArrayView path);

// The extended M3U8 text of the paths, in UTF-8: a #EXTM3U header, and per
// entry an #EXTINF line (unknown length, the display name as the title) and
// the path. An absolute name that is not UTF-8 or has blanks at its ends is
// written as a file:// URL, so that it reads back byte for byte.
QByteArray M3u8Text(const PathList& paths);

// Saves the paths as M3U8 under an .m3u or .m3u8 name and as a .plf list
// under every other, by the rules of SaveListFile.
void SavePlaylistFile(const QByteArray& path, const PathList& paths);
