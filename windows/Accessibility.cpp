#include "windows/Accessibility.h"

#include "player/Unit1.h"
#include "playlist/ListBox.h"
#include "playlist/Unit2.h"
#include "trackinfo/Unit4.h"
#include "windows/Controls.h"
#include "windows/Unit3.h"
#include "windows/Unit5.h"

#include <QAccessibleWidget>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTextEdit>
#include <initializer_list>
#include <utility>

namespace {

using Names = std::initializer_list<std::pair<QWidget*, const char*>>;

void name(Names names) {
    for (const auto& [control, text] : names)
        if (control)
            control->setAccessibleName(QString::fromLatin1(text));
}

void closeByEscape(QWidget& window, std::function<void()> close) {
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, &window, std::move(close));
}

QAccessibleInterface* frameOfWindow(const QString& className, QObject* object) {
    // Only the program's own forms: every other class keeps Qt's own view.
    if (!className.startsWith(QLatin1String("TForm")) || !object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (!widget->isWindow() || qobject_cast<QDialog*>(widget))
        return nullptr; // a dialog is already one, with its own role
    return new QAccessibleWidget(widget, QAccessible::Window);
}

} // namespace

void AnnounceWindowsAsFrames() {
    static const bool installed = [] {
        QAccessible::installFactory(frameOfWindow);
        return true;
    }();
    (void)installed;
}

void DescribeForScreenReaders(TForm1& w) {
    AnnounceWindowsAsFrames();
    name({{w.Panel2, "Time"},
          {w.Panel1, "Title"},
          {w.SpeedButton5, "Alarm"},
          {w.PlayOrder, "Play order"},
          {w.ScrollBar1, "Volume"},
          {w.Panel3, "Volume level"},
          {w.Panel6, "Played"},
          {w.Bar, "Seek"},
          {w.Prev, "Previous"},
          {w.Play, "Play"},
          {w.SpeedButton2, "Pause"},
          {w.SpeedButton1, "Stop"},
          {w.Next, "Next"},
          {w.Open, "Open"},
          {w.SpeedButton3, "Play List"},
          {w.SpeedButton6, "Eject"},
          {w.ProgressBar1, "Progress"},
          {w.SpeedButton4, "Webpage"}});
    // The bars join the Tab chain; their keys stay the window's shortcuts
    // (Up and Down the volume, Left and Right the position), which come
    // before a focused bar sees them.
    w.ScrollBar1->setFocusPolicy(Qt::TabFocus);
    w.Bar->setFocusPolicy(Qt::TabFocus);
}

void DescribeForScreenReaders(TForm2& w) {
    AnnounceWindowsAsFrames();
    name({{w.ListB, "Play List"},
          {w.Add, "Add"},
          {w.Rem, "Clear"},
          {w.SpeedButton1, "Select"},
          {w.List, "List"},
          {w.SpeedButton2, "Help"},
          {w.Panel1, "Time"},
          {w.lirik, "Lyrics"},
          {w.GroupBox1, "Scanning Bad Files"},
          {w.Label1, "File"},
          {w.Label2, "Done"},
          {w.ProgressBar1, "Scan progress"},
          {w.Button1, "Stop scan"}});
}

void DescribeForScreenReaders(TForm3& w) {
    AnnounceWindowsAsFrames();
    name({{w.Image1, "Tolvane"}});
    // A dialog's Escape already closes it as its close box does.
}

void DescribeForScreenReaders(TForm4& w) {
    AnnounceWindowsAsFrames();
    name({{w.Edit7, "File"},
          {w.Title, "Title"},
          {w.Artist, "Artist"},
          {w.Album, "Album"},
          {w.Year, "Year"},
          {w.Genre, "Genre"},
          {w.Comment, "Comment"},
          {w.SpeedButton2, "Previous"},
          {w.SpeedButton1, "OK"},
          {w.SpeedButton3, "Next"}});
    closeByEscape(w, [&w] { w.SpeedButton1Click(); });
}

void DescribeForScreenReaders(TForm5& w) {
    AnnounceWindowsAsFrames();
    name({{w.Edit2, "Time now"}, {w.Edit1, "Alarm time"}, {w.SpeedButton1, "Check alarm"}});
    closeByEscape(w, [&w] { w.close(); });
}
