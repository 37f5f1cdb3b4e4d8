#pragma once

#include <QString>
#include <exception>
#include <functional>

// Modal message boxes with one OK button, captioned with the program's title.
// Their texts may break lines with CR, LF or a pair of both (in either
// order); each is shown as one line break.
void ShowMessage(const QString& text);
// The standard error message box: the text of an error a command did not handle.
void ShowErrorMessage(const QString& text);

// Runs a command; an error it does not handle ends it and is shown in the
// standard error message box. Returns whether the command ran to its end.
template <class Command> bool RunCommand(Command&& command) {
    try {
        command();
        return true;
    } catch (const std::exception& error) {
        ShowErrorMessage(QString::fromLocal8Bit(error.what()));
        return false;
    }
}

// A message's text with every line break as one LF.
QString MessageLines(const QString& text);

// Where message boxes go. Tests install a recorder; by default a modal
// QMessageBox is shown.
using MessagePresenter = std::function<void(const QString& text, bool isError)>;
void SetMessagePresenter(MessagePresenter presenter);
