#pragma once

#include <QDialog>

class QLabel;

// The about window: title, version, release date, a contact line, a place
// and a small picture. It has no behaviour of its own; the user closes it
// with the close box of its frame.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* StaticText1 = nullptr;
    QLabel* Label3 = nullptr; // version
    QLabel* Label2 = nullptr; // release date
    QLabel* Label5 = nullptr; // contact line
    QLabel* Label1 = nullptr; // place

protected:
    void showEvent(QShowEvent* event) override;
};
