#include "TestWindows.h"

#include <QTest>

namespace TestSupport {

Detail::ShownMainWindow::ShownMainWindow() {
    mainWindow_.show();
}

PlaylistWindow::PlaylistWindow() : TForm2(&mainWindow_) {}

void PlayingWindows::openWindows() {
    messages_ = std::make_unique<MessageRecorder>();
    windows_ = std::make_unique<PlaylistWindow>();
    form1 = &windows_->mainWindow();
    form2 = windows_.get();
}

void PlayingWindows::closeWindows() {
    windows_.reset();
    if (messages_)
        QVERIFY2(messages_->errors.isEmpty(), qPrintable(messages_->errors.join('|')));
    messages_.reset();
}

void PlayingWindows::load(const QList<QByteArray>& paths) {
    Fill(*form2, paths);
}

void Fill(TForm2& f2, const QList<QByteArray>& paths) {
    for (const QByteArray& path : paths)
        f2.AppendEntry(path);
    f2.RenumberList();
    f2.UpdateCaption();
}

} // namespace TestSupport
