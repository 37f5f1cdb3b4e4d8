#include "windows/Dialogs.h"

#include "platform/PathNames.h"

#include <QFileDialog>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <unistd.h>

// The program has one current folder, the process's: a file chosen in any
// dialog, by a click or typed as a full path, makes its folder the current
// one, as the folder dialog's choice does, and every dialog starts there
// next time. (Each file dialog would otherwise keep the folder it last
// showed, and one would open where another had long left.)
static void enterFolderOf(const QByteArray& chosenFile) {
    const qsizetype slash = chosenFile.lastIndexOf('/');
    if (slash < 0)
        return;
    const QByteArray folder = slash == 0 ? QByteArray("/") : chosenFile.left(slash);
    if (::chdir(folder.constData()) != 0)
        return; // the current folder only sets where dialogs start
}

static void startInCurrentFolder(QFileDialog* dialog) {
    QByteArray folder(PATH_MAX, '\0');
    while (!::getcwd(folder.data(), size_t(folder.size()))) {
        if (errno != ERANGE)
            return; // the current folder is gone: the dialog stays where it was
        folder.resize(folder.size() * 2);
    }
    folder.truncate(qsizetype(qstrlen(folder.constData())));
    // The name typed or chosen last time stays in the name field.
    const QStringList selected = dialog->selectedFiles();
    dialog->setDirectory(PathText(folder));
    if (!selected.isEmpty() && !QFileInfo(selected.first()).isDir())
        dialog->selectFile(QFileInfo(selected.first()).fileName());
}

static DialogStandIn& standIn() {
    static DialogStandIn instance;
    return instance;
}

void SetDialogStandIn(DialogStandIn s) {
    standIn() = std::move(s);
}

std::optional<std::vector<QByteArray>> ShowOpenDialog(QFileDialog* dialog) {
    if (standIn().open)
        return standIn().open(dialog);
    startInCurrentFolder(dialog);
    if (dialog->exec() != QDialog::Accepted)
        return std::nullopt;
    std::vector<QByteArray> chosen;
    for (const QString& file : dialog->selectedFiles())
        chosen.push_back(PathBytes(file));
    if (!chosen.empty())
        enterFolderOf(chosen.front());
    return chosen;
}

std::optional<QByteArray> ShowSaveDialog(QFileDialog* dialog) {
    if (standIn().save)
        return standIn().save(dialog);
    startInCurrentFolder(dialog);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    const QByteArray chosen = PathBytes(dialog->selectedFiles().first());
    enterFolderOf(chosen);
    return chosen;
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
        const QString& description = parts[i];
        // "*.*" means every name, with or without a full stop.
        QStringList list = parts[i + 1].split(QLatin1Char(';'));
        for (QString& pattern : list)
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        // Qt takes the patterns from the last parenthesised group, separated
        // by blanks, and with HideNameFilterDetails shows what comes before
        // it: the list shows the description exactly as written.
        filters << description + QStringLiteral(" (") + list.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    dialog->setOption(QFileDialog::HideNameFilterDetails, true);
    dialog->setNameFilters(filters);
}
