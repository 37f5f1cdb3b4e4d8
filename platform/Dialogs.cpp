#include "platform/Dialogs.h"

#include "playlist/Playlist.h"

#include <QFileDialog>
#include <unistd.h>

// A file chosen in the open or save dialog makes its folder the current
// folder, as the folder dialog's choice does: the next "Add Folder" starts
// where the user last was.
static void enterDialogFolder(QFileDialog* dialog) {
    if (::chdir(PathBytes(dialog->directory().absolutePath()).constData()) != 0)
        return; // the current folder only sets where dialogs start
}

static DialogStandIn& standIn() {
    static DialogStandIn instance;
    return instance;
}

void SetDialogStandIn(DialogStandIn s) { standIn() = std::move(s); }

std::optional<std::vector<QByteArray>> ShowOpenDialog(QFileDialog* dialog) {
    if (standIn().open)
        return standIn().open(dialog);
    if (dialog->exec() != QDialog::Accepted)
        return std::nullopt;
    enterDialogFolder(dialog);
    std::vector<QByteArray> chosen;
    for (const QString& file : dialog->selectedFiles())
        chosen.push_back(PathBytes(file));
    return chosen;
}

std::optional<QByteArray> ShowSaveDialog(QFileDialog* dialog) {
    if (standIn().save)
        return standIn().save(dialog);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    enterDialogFolder(dialog);
    return PathBytes(dialog->selectedFiles().first());
}

std::optional<QByteArray> ShowFolderDialog(QWidget* parent, const QString& title,
                                           const QByteArray& start) {
    if (standIn().folder)
        return standIn().folder(title, start);
    const QString chosen = QFileDialog::getExistingDirectory(parent, title, PathText(start));
    if (chosen.isEmpty())
        return std::nullopt;
    return PathBytes(chosen);
}

void SetDialogFilter(QFileDialog* dialog, const QString& filterText) {
    dialog->setProperty("filterText", filterText);
    const QStringList parts = filterText.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        // "*.*" means every name, with or without a full stop.
        QStringList list = parts[i + 1].split(QLatin1Char(';'));
        for (QString& pattern : list)
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        const QString patterns = list.join(QLatin1Char(' '));
        // Qt reads the patterns from the last parenthesised group, separated
        // by blanks; a description that already names them in parentheses is
        // shown with blanks in place of its semicolons.
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open >= 0 && description.endsWith(QLatin1Char(')')))
            description = description.left(open) + QLatin1Char('(') + patterns + QLatin1Char(')');
        else
            description += QStringLiteral(" (") + patterns + QLatin1Char(')');
        filters << description;
    }
    dialog->setNameFilters(filters);
}
