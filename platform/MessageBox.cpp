#include "platform/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

static MessagePresenter& presenter() {
    static MessagePresenter instance;
    return instance;
}

void SetMessagePresenter(MessagePresenter p) { presenter() = std::move(p); }

static void present(const QString& text, bool isError) {
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
