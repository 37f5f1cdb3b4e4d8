#pragma once

#include <QMimeData>
#include <QString>
#include <memory>

// Plain text as the program hands it to other programs. From text/plain, Qt
// answers X programs with UTF8_STRING in UTF-8 and with STRING and TEXT in
// Latin-1, as ICCCM has it (a character Latin-1 lacks becomes '?'). GTK
// programs and browsers offer text as text/plain;charset=utf-8 too, for the
// programs that ask by that name; Qt neither offers that name nor answers it
// (the asker gets an empty reply), so it is given here explicitly.
std::unique_ptr<QMimeData> ClipboardText(const QString& text);
