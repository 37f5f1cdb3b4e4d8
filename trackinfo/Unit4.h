#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class TForm1;
class TForm2;
class TSpeedButton;

// The file info window: the full path and the ID3v1 tag of the current
// playlist entry, read only, with buttons that step through the playlist.
// Each "View file info" makes a new one, owned by the playlist window; it is
// destroyed when it is closed, as nothing refers to a closed one.
class TForm4 : public QWidget {
    Q_OBJECT
public:
    explicit TForm4(TForm2* form2);

    TForm1* Form1;
    TForm2* Form2;

    QLineEdit* Edit7 = nullptr; // the path
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Title = nullptr;
    QLineEdit* Artist = nullptr;
    QLineEdit* Album = nullptr;
    QLineEdit* Year = nullptr;
    QLineEdit* Genre = nullptr;
    QLineEdit* Comment = nullptr;
    TSpeedButton* SpeedButton2 = nullptr; // "<< Previous "
    TSpeedButton* SpeedButton1 = nullptr; // "&OK"
    TSpeedButton* SpeedButton3 = nullptr; // "&Next >>"

    // Fills the window from the current entry. Throws EListError when there
    // is no current entry; the window then keeps what it showed.
    void RefreshFileInfo();

    void SpeedButton1Click(); // OK
    void SpeedButton2Click(); // Previous
    void SpeedButton3Click(); // Next

private:
    void CreateControls();
    void FormCreate();
    // Reads the tag of `path` into the six boxes; empties them and returns
    // false when the file cannot be read.
    bool ShowTag(const QByteArray& path);
    void showFromTheStart();
};
