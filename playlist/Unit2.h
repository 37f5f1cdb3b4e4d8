#pragma once

#include "windows/LazyFileDialog.h"

#include <QAction>
#include <QWidget>
#include <memory>
#include <vector>

class AutomaticPlaylist;
class QFileDialog;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTextEdit;
class Playlist;
class TForm1;
class TListBox;
class TFileTester;
class TPanel;
class TSpeedButton;

// The playlist window. It owns the playlist (the paths of ListA and the
// numbered lines of ListB, both held by `Lists`), carries every command that
// fills, edits, saves and plays it, and hosts the lyric view and the progress
// box of the bad-file scan.
class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(TForm1* form1, QWidget* parent = nullptr);
    ~TForm2() override;

    TForm1* Form1;

    // --- the playlist ---
    Playlist* Lists = nullptr;
    int EntryCount() const;
    QByteArray EntryPath(int i) const; // throws EListError
    int CurrentIndex() const;
    void SetCurrentIndex(int i);
    void AppendEntry(const QByteArray& path);
    void RemoveEntry(int i);
    void ClearEntries();
    void RenumberList();
    void UpdateCaption();

    // --- controls ---
    TListBox* ListB = nullptr;
    TSpeedButton* Add = nullptr;
    TSpeedButton* Rem = nullptr;
    TSpeedButton* SpeedButton1 = nullptr;
    TSpeedButton* List = nullptr;
    TSpeedButton* SpeedButton2 = nullptr;
    TPanel* Panel1 = nullptr; // time panel
    // The lyric view and the scan's progress box start hidden and are built
    // on first use, by CreateHiddenControls (every command that shows them
    // calls it); until then they are null.
    QTextEdit* lirik = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* Button1 = nullptr;
    TLazyFileDialog SD;          // built on first use
    void CreateHiddenControls(); // once; later calls do nothing

    // --- menus ---
    QMenu* PopupMenu1 = nullptr; // "&List"
    QMenu* PopupMenu2 = nullptr; // "&Clear"
    QMenu* PopupMenu3 = nullptr; // "&Sel"
    QMenu* PopupMenu4 = nullptr; // "&Add"
    QMenu* PopupMenu5 = nullptr; // ListB
    QMenu* PopupMenu6 = nullptr; // lirik
    QMenu* PopupMenu7 = nullptr; // "&Help"
    QAction* IncludeSubfolder1 = nullptr;
    QAction* Next1 = nullptr;    // Down
    QAction* Prev1 = nullptr;    // Up
    QAction* Volplus1 = nullptr; // Ctrl+Up
    QAction* volmin1 = nullptr;  // Ctrl+Down

    // --- window state ---
    QString TimeMode; // "", "counting" or "elapsed"
    bool CtrlDown = false;
    int DragOrigin = -1;
    bool ScanStopRequested = false;
    TFileTester* TestPlayer = nullptr;

    // --- playlist files ---
    void Newlist1Click();
    void Savelist1Click();
    void LoadList1Click();
    void Addtolist1Click();
    void AppendListFile();
    // "Add to List" with the file already chosen.
    void AppendListFile(const QByteArray& path);
    void ReadAutomaticPlaylist();
    void SaveAutomaticPlaylist();

    // --- adding media ---
    void AddFiles1Click();
    void AddFolder1Click();
    // "Add Folder" with the folder already chosen.
    void AppendFolderFiles(const QByteArray& folder);
    void IncludeSubfolder1Click();
    void HandleDroppedFiles(const std::vector<QByteArray>& paths);

    // --- selection and editing ---
    void Clearplaylist1Click();
    void Clearselected1Click();
    void Crop1Click();
    void SelectAll1Click();
    void DeselectAll2Click();
    void InvertSelection1Click();
    void InvertSelection();
    void Shufflelist1Click();
    void DeleteSelectedEntries();
    void ListBClick();
    void ListBDblClick();
    void ListBKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void ListBKeyUp(int key, Qt::KeyboardModifiers modifiers);
    void ListBMouseDown(Qt::MouseButton button);
    void ListBMouseUp(Qt::MouseButton button);

    // --- bad-file scan ---
    void ScanBadFiles();
    void ClearBadFiles1Click();
    void Button1Click();
    bool isScanning() const { return scanning_; }
    void SetListCommandsEnabled(bool on);

    // --- window commands ---
    void AddClick();          // opens PopupMenu4
    void RemClick();          // opens PopupMenu2
    void SpeedButton1Click(); // opens PopupMenu3
    void ListClick();         // opens PopupMenu1
    void SpeedButton2Click(); // opens PopupMenu7
    void Gotofile1Click();
    void Refresh1Click();
    void Next1Click();
    void Prev1Click();
    void Volplus1Click();
    void volmin1Click();
    void Panel1Click();
    void About1Click();
    void Viewfileinfo1Click();

    // --- lyric view ---
    void Lyric1Click();
    void LoadLyrics(const QByteArray& path);
    void Reload1Click();
    void Copy1Click();
    void Edit1Click();
    void Help1Click();
    void Closelyricwindow1Click();
    void lirikDblClick();

    // Adds the main window's shortcut items after this window's own, leaving
    // out keys this window already answers (its own come first).
    void AdoptShortcuts(const QList<QAction*>& items);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void PlaceBelowMainWindow();
    void ApplyMinimumSize();
    void CreateControls();
    void CreateMenus();
    void PlaceHiddenControls();
    void FormResize();
    void PopupAbove(TSpeedButton* button, QMenu* menu, int offset);

    bool scanning_ = false;
    // Where the scan's progress box stands, kept while it is not built yet.
    QPoint groupBoxAt_{24, 16};
    std::unique_ptr<AutomaticPlaylist> automatic_;
    // While the window manager is still framing the two windows at start,
    // the placement below the main window is redone as their frames become
    // known (a few times at most, so that a window manager that will not
    // have it so cannot keep the two windows busy).
    bool followMainWindow_ = false;
    int placementsLeft_ = 8;
};
