#pragma once

#include <QByteArrayView>
#include <QString>

// Bytes of a tag or a text file written on a single-byte desktop, shown as
// text: every byte is one character of Windows-1252 (Latin-1 with the
// printable characters it puts at 0x80..0x9F). Decoding never fails and
// never drops a byte.
QString Windows1252Text(QByteArrayView bytes);
