#include "windows/LazyFileDialog.h"

#include <QFileDialog>

QFileDialog* TLazyFileDialog::get() {
    if (!dialog_) {
        dialog_ = new QFileDialog(parent_);
        if (setup_)
            setup_(dialog_);
    }
    return dialog_;
}
