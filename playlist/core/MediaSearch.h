#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <array>
#include <vector>

// Finding media files in folders, and telling media files by their names.
// Paths are bytes throughout: a name that is not valid UTF-8 is found and
// kept exactly as the file system spells it.

// The extensions a folder search or a drop accepts, in the order compared.
inline constexpr std::array<QByteArrayView, 8> MediaExtensions = {".mp3", ".avi", ".mpg", ".mid",
                                                                  ".rmi", ".wav", ".wma", ".mpeg"};

// The extension of a path: from its last full stop to the end, full stop
// included, when that full stop comes after the last "/" (the only folder
// separator: "\" and ":" are parts of names); otherwise empty (so
// "/my.folder/readme" has none).
QByteArray PathExtension(const QByteArray& path);

// Whether the path's extension, lower-cased (ASCII letters only), is one of
// MediaExtensions.
bool IsMediaFile(const QByteArray& path);

// Removes every path that is not a media file; the rest keep their order.
void FilterMediaFiles(std::vector<QByteArray>& paths);

// What the searches count as what:
//  - a file is a regular file, or a symbolic link to one;
//  - a folder is a directory; a symbolic link to one is not followed;
//  - anything else (devices, pipes, sockets, broken links) is neither and is
//    left out.
// The directory entry's type is trusted where the file system gives it; a
// link, or an entry of unknown type, is looked up with stat().

// The order in which a folder's names are taken, as file managers show
// them: without regard to case, and runs of digits by their value, so that
// "2" comes before "10". Names equal by that rule are ordered by their bytes.
// Negative, zero or positive as `a` comes before, is, or comes after `b`.
int CompareNames(QByteArrayView a, QByteArrayView b);

// Appends to `result` the files of `folder` whose names match `mask`, in
// name order (CompareNames), then, when `recurse` is set, the files of each
// subfolder in turn, the subfolders in name order too, depth first. (The
// file system lists a folder in an order of its own, which on most is no
// order a user would recognise: an album would not play in order.)
// `folder` gets a trailing "/" when it is not empty and lacks one; an empty
// folder means the current folder, and the paths are then bare names.
// The mask is a shell pattern, matched without regard to case; "*.*" matches
// every name, also names without a full stop.
// Subfolders whose names begin with a full stop are not searched. A folder
// that cannot be read adds nothing. Each folder is searched at most once
// (known by device and inode), so a tree mounted twice adds its files once.
// /proc, /sys, /dev and the kernel's other pseudo file systems are never
// entered, also when `folder` is one of them.
void SearchFiles(const QByteArray& folder, const QByteArray& mask, bool recurse,
                 std::vector<QByteArray>& result);

// The files directly inside `folder`, as folder + "/" + name, in name
// order; subfolders are not looked into. A folder that cannot be read gives
// nothing.
std::vector<QByteArray> FolderFiles(const QByteArray& folder);

// Whether the path names a folder (following links). A path that cannot be
// looked up answers `orElse`.
bool IsFolder(const QByteArray& path, bool orElse);
