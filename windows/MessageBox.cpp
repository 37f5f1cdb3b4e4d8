#include "windows/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

static MessagePresenter& presenter() {
    static MessagePresenter instance;
    return instance;
}

void SetMessagePresenter(MessagePresenter p) { presenter() = std::move(p); }

QString MessageLines(const QString& text) {
    QString lines;
    lines.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n') {
            lines += c;
            continue;
        }
        lines += u'\n';
        // CR LF and LF CR are one break each; two alike are two.
        if (i + 1 < text.size() && (text[i + 1] == u'\r' || text[i + 1] == u'\n') &&
            text[i + 1] != c)
            ++i;
    }
    return lines;
}

static void present(const QString& raw, bool isError) {
    const QString text = MessageLines(raw);
    if (presenter()) {
        presenter()(text, isError);
        return;
    }
    QMessageBox box(isError ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QStringLiteral("Tolvane"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void ShowMessage(const QString& text) { present(text, false); }

void ShowErrorMessage(const QString& text) { present(text, true); }
