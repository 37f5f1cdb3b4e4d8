#pragma once

#include <functional>

class QFileDialog;
class QWidget;

// A file dialog that is built when it is first used. Building one loads a
// file system model, its standard icons and a dozen widgets, which is a good
// part of the program's start; most runs never open a dialog at all. The
// holder reads like the dialog's pointer (`OD->setFileMode(...)`,
// `ShowOpenDialog(OD)`), and the dialog, once built, lives as long as its
// parent window, so it keeps its folder and last file name between uses.
class TLazyFileDialog {
public:
    TLazyFileDialog() = default;
    // `setup` gives the new dialog its fixed settings (mode, options).
    TLazyFileDialog(QWidget* parent, std::function<void(QFileDialog*)> setup)
        : parent_(parent), setup_(std::move(setup)) {}

    QFileDialog* get();
    QFileDialog* operator->() { return get(); }
    operator QFileDialog*() { return get(); }
    bool isBuilt() const { return dialog_ != nullptr; }

private:
    QWidget* parent_ = nullptr;
    std::function<void(QFileDialog*)> setup_;
    QFileDialog* dialog_ = nullptr; // owned by parent_
};
