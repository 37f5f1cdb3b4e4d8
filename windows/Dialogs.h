#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class QFileDialog;
class QWidget;

// The modal dialogs the commands use. Each returns the chosen path(s) as
// bytes, or nothing when the user cancels. Tests put a stand-in in place of
// the real dialogs.
std::optional<std::vector<QByteArray>> ShowOpenDialog(QFileDialog* dialog);
std::optional<QByteArray> ShowSaveDialog(QFileDialog* dialog);
std::optional<QByteArray> ShowFolderDialog(QWidget* parent, const QString& title,
                                           const QByteArray& start);

struct DialogStandIn {
    // Receives the dialog (with its filter set) and answers for the user.
    std::function<std::optional<std::vector<QByteArray>>(QFileDialog*)> open;
    std::function<std::optional<QByteArray>(QFileDialog*)> save;
    std::function<std::optional<QByteArray>(const QString& title, const QByteArray& start)> folder;
};
void SetDialogStandIn(DialogStandIn standIn);

// Gives a file dialog its filter from the classic "description|patterns|..."
// text (patterns separated by ";"). The exact text is kept in the dialog's
// "filterText" property; the dialog lists the descriptions as written and
// filters by their patterns.
void SetDialogFilter(QFileDialog* dialog, const QString& filterText);
