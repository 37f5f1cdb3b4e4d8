// The main window: its layout and looks, the shortcut items in both windows,
// the marquee, the seek bar, the hints, the show/hide buttons, the CD door,
// the connection state and the volume panel.

#include "TestSupport.h"
#include "TestWindows.h"

#include "platform/CdDoor.h"
#include "platform/Connection.h"
#include "platform/DesktopServices.h"
#include "platform/SoundServerVolume.h"
#include "player/Unit1.h"
#include "player/core/Clock.h"
#include "player/core/Volume.h"
#include "player/media/MediaPlayer.h"
#include "playlist/ListBox.h"
#include "playlist/Unit2.h"
#include "playlist/core/Playlist.h"
#include "windows/Controls.h"
#include "windows/Dialogs.h"
#include "windows/Unit5.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QNetworkInformation>
#include <QProgressBar>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

namespace {

// The windows as the program entry makes them: the main window shown, the
// playlist window below it, the alarm window hidden.
struct Windows {
    TestSupport::PlaylistWindow f2;
    TForm1& f1 = f2.mainWindow();
    TForm5 f5;
    Windows() { f1.Form5 = &f5; }
};

QWidget* controlNamed(TForm1& f, const QString& name) {
    const QHash<QString, QWidget*> controls{{"Image1", f.Image1},
                                            {"Panel2", f.Panel2},
                                            {"Panel1", f.Panel1},
                                            {"SpeedButton5", f.SpeedButton5},
                                            {"PlayOrder", f.PlayOrder},
                                            {"ScrollBar1", f.ScrollBar1},
                                            {"Panel3", f.Panel3},
                                            {"Panel6", f.Panel6},
                                            {"Bar", f.Bar},
                                            {"Prev", f.Prev},
                                            {"Play", f.Play},
                                            {"SpeedButton2", f.SpeedButton2},
                                            {"SpeedButton1", f.SpeedButton1},
                                            {"Next", f.Next},
                                            {"Open", f.Open},
                                            {"SpeedButton3", f.SpeedButton3},
                                            {"SpeedButton6", f.SpeedButton6},
                                            {"ProgressBar1", f.ProgressBar1},
                                            {"SpeedButton4", f.SpeedButton4}};
    return controls.value(name);
}

QString captionOf(QWidget* control) {
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    return QString();
}

bool activate(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

// The key goes where a user's key would: to the focused control of the
// active window, or the window itself when nothing in it has the focus.
void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    if (!target)
        target = QApplication::activeWindow();
    QVERIFY(target);
    QTest::keyClick(target, key, modifiers);
}

bool isDesignFace(const QString& family) {
    return family.startsWith(QLatin1String("DejaVu")) ||
           family.startsWith(QLatin1String("Liberation"));
}

QString resolvedFamily(const QWidget* widget) {
    return QFontInfo(widget->font()).family();
}

const QByteArray SixteenCharacters = "/music/abcdefghijkl.mp3";
const QByteArray FifteenCharacters = "/music/abcdefghijk.mp3";

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    QList<CdDoorCommand> doorCommands_;
    QStringList desktopRequests_;
    int openDialogs_ = 0;
    bool connected_ = true;

private slots:
    void initTestCase() {
        // The windows read and write the system volume; only the private
        // sound server of the test environment may be touched.
        if (qEnvironmentVariableIsEmpty("TOLVANE_TEST_MEDIA") ||
            qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("run under tools/with-test-env");
        SetCdDoorRecorder([this](CdDoorCommand c) { doorCommands_ << c; });
        SetDesktopRecorder(
            [this](const QString& action, const QByteArray&) { desktopRequests_ << action; });
        SetConnectionStandIn([this] { return connected_; });
        DialogStandIn dialogs;
        dialogs.open = [this](QFileDialog*) {
            ++openDialogs_;
            return std::optional<std::vector<QByteArray>>();
        };
        dialogs.folder = [](const QString&, const QByteArray&) {
            return std::optional<QByteArray>();
        };
        SetDialogStandIn(dialogs);
    }

    void init() {
        doorCommands_.clear();
        desktopRequests_.clear();
        openDialogs_ = 0;
        connected_ = true;
        // Each case starts from a silent output, so the volume bar starts at 0.
        QVERIFY(SoundServerVolume().Write({0, 0}));
    }

    // --- layout and looks ---

    void windowIsAFixedSmallPlayer() {
        Windows w;
        QCOMPARE(w.f1.windowTitle(), QStringLiteral("Tolvane"));
        QCOMPARE(w.f1.size(), QSize(283, 111));
        QCOMPARE(w.f1.minimumSize(), QSize(283, 111));
        QCOMPARE(w.f1.maximumSize(), QSize(283, 111));
        QVERIFY(!(w.f1.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w.f1.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(w.f1.windowFlags() & Qt::WindowSystemMenuHint);
        QVERIFY(!w.f1.windowIcon().isNull());
        QCOMPARE(w.f1.Timer1->interval(), 1000);
        QCOMPARE(w.f1.Timer2->interval(), 200);
        QVERIFY(!w.f1.Timer1->isActive());
        QVERIFY(!w.f1.Timer2->isActive());
    }

    void controlsSitWhereTheDesignPutsThem_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("hint");
        auto row = [](const char* name, QRect r, const char* caption, const char* hint) {
            QTest::newRow(name) << QString::fromLatin1(name) << r << QString::fromLatin1(caption)
                                << QString::fromLatin1(hint);
        };
        row("Image1", {0, 0, 283, 111}, "", "");
        row("Panel2", {4, 3, 53, 21}, "- - : - -", "");
        row("Panel1", {64, 3, 154, 21}, "tolvane@example.org", "");
        row("SpeedButton5", {218, 3, 62, 22}, "&Alarm", "Alarm you use");
        row("PlayOrder", {4, 27, 53, 19}, "", "Play order");
        row("ScrollBar1", {64, 31, 152, 9}, "", "Vol. control");
        row("Panel3", {220, 25, 61, 16}, "0%", "");
        row("Panel6", {220, 40, 61, 16}, "0%", "Step");
        row("Bar", {4, 47, 213, 8}, "", "");
        row("Prev", {4, 57, 33, 33}, "", "Previous");
        row("Play", {37, 57, 33, 33}, "", "Play!");
        row("SpeedButton2", {70, 57, 33, 33}, "", "Pause");
        row("SpeedButton1", {103, 57, 33, 33}, "", "Stop");
        row("Next", {136, 57, 33, 33}, "", "Next");
        row("Open", {174, 57, 29, 33}, "", "Open file(s)");
        row("SpeedButton3", {204, 56, 76, 18}, "   &Play List", "Show/hide play list");
        row("SpeedButton6", {205, 75, 75, 16}, "       &Eject", "Open Eject");
        row("ProgressBar1", {6, 90, 195, 16}, "", "This the process");
        row("SpeedButton4", {208, 92, 71, 15}, "&Webpage", "This the web page");
    }

    void controlsSitWhereTheDesignPutsThem() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        QFETCH(QString, hint);
        Windows w;
        QWidget* control = controlNamed(w.f1, name);
        QVERIFY(control);
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(captionOf(control), caption);
        QCOMPARE(control->toolTip(), hint);
        QVERIFY(control->isVisible());
    }

    void picturesAreDrawnAtTheirSizes_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("background") << ":/background.jpg" << QSize(261, 104) << QByteArray("jpeg");
        QTest::newRow("about") << ":/about.jpg" << QSize(52, 48) << QByteArray("jpeg");
        for (const char* name : {"prev", "play", "pause", "stop", "next"})
            QTest::newRow(name) << QStringLiteral(":/%1.png").arg(QLatin1String(name))
                                << QSize(28, 28) << QByteArray("png");
        QTest::newRow("open") << ":/open.png" << QSize(19, 18) << QByteArray("png");
        for (const char* name : {"alarm", "playlist", "eject", "webpage", "alarmbutton"}) {
            const QString file = QLatin1String(name);
            QTest::newRow(name) << QStringLiteral(":/%1.png").arg(file) << QSize(16, 16)
                                << QByteArray("png");
            QTest::newRow(qPrintable(file + "_disabled"))
                << QStringLiteral(":/%1_disabled.png").arg(file) << QSize(16, 16)
                << QByteArray("png");
        }
        QTest::newRow("icon") << ":/icon.png" << QSize(64, 64) << QByteArray("png");
    }

    void picturesAreDrawnAtTheirSizes() {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QFETCH(QByteArray, format);
        QImageReader reader(path);
        QCOMPARE(reader.format(), format);
        const QImage picture = reader.read();
        QVERIFY2(!picture.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(picture.size(), size);
    }

    void buttonsCarryTheirGlyphs_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("glyph");
        QTest::addColumn<bool>("hasDisabledImage");
        QTest::newRow("Prev") << "Prev"
                              << "prev" << false;
        QTest::newRow("Play") << "Play"
                              << "play" << false;
        QTest::newRow("SpeedButton2") << "SpeedButton2"
                                      << "pause" << false;
        QTest::newRow("SpeedButton1") << "SpeedButton1"
                                      << "stop" << false;
        QTest::newRow("Next") << "Next"
                              << "next" << false;
        QTest::newRow("Open") << "Open"
                              << "open" << false;
        QTest::newRow("SpeedButton5") << "SpeedButton5"
                                      << "alarm" << true;
        QTest::newRow("SpeedButton3") << "SpeedButton3"
                                      << "playlist" << true;
        QTest::newRow("SpeedButton6") << "SpeedButton6"
                                      << "eject" << true;
        QTest::newRow("SpeedButton4") << "SpeedButton4"
                                      << "webpage" << true;
    }

    void buttonsCarryTheirGlyphs() {
        QFETCH(QString, name);
        QFETCH(QString, glyph);
        QFETCH(bool, hasDisabledImage);
        Windows w;
        auto* button = qobject_cast<TSpeedButton*>(controlNamed(w.f1, name));
        QVERIFY(button);
        QVERIFY(button->autoRaise());
        // Reached by Tab, never taken by a click.
        QCOMPARE(button->focusPolicy(), Qt::TabFocus);
        auto same = [](const QPixmap& shown, const QString& path) {
            return shown.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) ==
                   QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        };
        const QString normal = QStringLiteral(":/%1.png").arg(glyph);
        QCOMPARE(button->iconSize(), QImage(normal).size());
        QVERIFY(same(button->icon().pixmap(button->iconSize()), normal));
        if (hasDisabledImage)
            QVERIFY(same(button->icon().pixmap(button->iconSize(), QIcon::Disabled),
                         QStringLiteral(":/%1_disabled.png").arg(glyph)));
    }

    void displaysAreLimeOnDarkGreyInBevels() {
        Windows w;
        for (TPanel* panel : {w.f1.Panel1, w.f1.Panel2, w.f1.Panel3, w.f1.Panel6}) {
            QCOMPARE(panel->palette().color(QPalette::Window), QColor(74, 70, 70));
            QCOMPARE(panel->palette().color(QPalette::WindowText), QColor(0, 255, 0));
            QCOMPARE(panel->innerBevel(), TBevel::Raised);
            QCOMPARE(panel->outerBevel(), TBevel::Lowered);
            QCOMPARE(panel->font().pixelSize(), 11);
            QVERIFY2(isDesignFace(resolvedFamily(panel)), qPrintable(resolvedFamily(panel)));
        }
        // "Microsoft Sans Serif" and "MS Sans Serif" in a sans face, "Modern"
        // in a monospaced one.
        QVERIFY(!resolvedFamily(w.f1.Panel2).contains(QLatin1String("Mono")));
        QVERIFY(resolvedFamily(w.f1.Panel1).contains(QLatin1String("Mono")));
        QVERIFY(QFontInfo(w.f1.Panel1->font()).fixedPitch());
        QVERIFY(!resolvedFamily(w.f1.Panel3).contains(QLatin1String("Mono")));
        QVERIFY(w.f1.Panel3->font().fixedPitch());
        QCOMPARE(w.f1.PlayOrder->palette().color(QPalette::Base), QColor(74, 70, 70));
        QCOMPARE(w.f1.PlayOrder->palette().color(QPalette::Text), QColor(0, 255, 0));
        QCOMPARE(w.f1.Bar->backgroundColor(), QColor(74, 70, 70));
        QCOMPARE(w.f1.Bar->barColor(), QColor(255, 0, 0));
        QCOMPARE(w.f1.Image1->pixmap().size(), QSize(261, 104));
        QVERIFY(w.f1.Image1->hasScaledContents());
        QVERIFY(isDesignFace(resolvedFamily(&w.f1)));
    }

    void paintedWindowShowsPanelsSeekBarAndBackground() {
        Windows w;
        w.f1.Bar->setMaximum(1000);
        w.f1.Bar->setValue(500);
        const QImage shot = w.f1.grab().toImage();
        QCOMPARE(shot.pixelColor(7, 6), QColor(74, 70, 70));    // inside Panel2's bevels
        QCOMPARE(shot.pixelColor(10, 51), QColor(255, 0, 0));   // the played half of Bar
        QCOMPARE(shot.pixelColor(200, 51), QColor(74, 70, 70)); // the rest of it
        const QColor ground = shot.pixelColor(140, 100);        // the background picture
        QVERIFY2(ground.green() > 200 && ground.red() > 140 && ground.blue() < 200,
                 qPrintable(ground.name()));
    }

    void playOrderHoldsTheThreeOrdersInRowsOf13Pixels() {
        Windows w;
        QCOMPARE(w.f1.PlayOrder->count(), 3);
        QCOMPARE(w.f1.PlayOrder->itemText(0), QStringLiteral("Con"));
        QCOMPARE(w.f1.PlayOrder->itemText(1), QStringLiteral("Shu"));
        QCOMPARE(w.f1.PlayOrder->itemText(2), QStringLiteral("Rep"));
        QCOMPARE(w.f1.PlayOrder->currentIndex(), 0);
        QCOMPARE(w.f1.PlayOrder->view()->sizeHintForRow(0), 13);
    }

    void playOrderOpensItsListWhenAKeyIsTyped() {
        Windows w;
        QVERIFY(activate(&w.f1));
        w.f1.PlayOrder->setFocus();
        QTest::keyClick(w.f1.PlayOrder, Qt::Key_R); // plain R is no shortcut
        QTRY_VERIFY(w.f1.PlayOrder->view()->isVisible());
        QCOMPARE(w.f1.PlayOrder->currentIndex(), 2);
        QCOMPARE(w.f1.PlayOrder->view()->visualRect(w.f1.PlayOrder->model()->index(0, 0)).height(),
                 13);
        w.f1.PlayOrder->hidePopup();
    }

    // --- shortcut items ---

    void shortcutItemsFollowTheMenuOrder() {
        Windows w;
        const QList<std::pair<QString, QKeySequence>> expected{
            {"Vol", Qt::Key_Up},
            {"Vol-", Qt::Key_Down},
            {"Next", Qt::Key_B},
            {"Prev", Qt::Key_Z},
            {"Pause", Qt::Key_C},
            {"Open", Qt::Key_O},
            {"OpenFolder", QKeySequence(Qt::CTRL | Qt::Key_O)},
            {"Pos", Qt::Key_Right},
            {"Stop", Qt::Key_V},
            {"Play", Qt::Key_X},
            {"PosPlus", Qt::Key_Left},
            {"PlayShuffle", Qt::Key_N},
            {"Shuffle", QKeySequence(Qt::SHIFT | Qt::Key_S)},
            {"Repeat", QKeySequence(Qt::SHIFT | Qt::Key_R)},
            {"Continuous", QKeySequence(Qt::SHIFT | Qt::Key_C)},
            {"OnTop", Qt::Key_T},
            {"PlayListShow", Qt::Key_L}};
        QCOMPARE(w.f1.TheShortCut.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(w.f1.TheShortCut[i]->text(), expected[i].first);
            QCOMPARE(w.f1.TheShortCut[i]->shortcut(), expected[i].second);
        }
        QCOMPARE(w.f1.Vol1, w.f1.TheShortCut.first());
        QCOMPARE(w.f1.PlayListShow1, w.f1.TheShortCut.last());
    }

    void keyReachesItsItem_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("inPlaylistWindow");
        const std::tuple<const char*, int, int> keys[] = {
            {"Vol", Qt::Key_Up, 0},
            {"Vol-", Qt::Key_Down, 0},
            {"Next", Qt::Key_B, 0},
            {"Prev", Qt::Key_Z, 0},
            {"Pause", Qt::Key_C, 0},
            {"Open", Qt::Key_O, 0},
            {"OpenFolder", Qt::Key_O, Qt::ControlModifier},
            {"Pos", Qt::Key_Right, 0},
            {"Stop", Qt::Key_V, 0},
            {"Play", Qt::Key_X, 0},
            {"PosPlus", Qt::Key_Left, 0},
            {"PlayShuffle", Qt::Key_N, 0},
            {"Shuffle", Qt::Key_S, Qt::ShiftModifier},
            {"Repeat", Qt::Key_R, Qt::ShiftModifier},
            {"Continuous", Qt::Key_C, Qt::ShiftModifier},
            {"OnTop", Qt::Key_T, 0},
            {"PlayListShow", Qt::Key_L, 0}};
        for (const auto& [item, key, modifiers] : keys) {
            QTest::addRow("main window: %s", item)
                << key << modifiers << QString::fromLatin1(item) << false;
            // The playlist window's own Up and Down win there.
            if (key != Qt::Key_Up && key != Qt::Key_Down)
                QTest::addRow("playlist window: %s", item)
                    << key << modifiers << QString::fromLatin1(item) << true;
        }
    }

    void keyReachesItsItem() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, item);
        QFETCH(bool, inPlaylistWindow);
        Windows w;
        if (inPlaylistWindow) {
            QVERIFY(activate(&w.f2));
            w.f2.ListB->setFocus();
        } else {
            QVERIFY(activate(&w.f1));
            w.f1.PlayOrder->setFocus();
        }
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (QAction* a : std::as_const(w.f1.TheShortCut))
            spies.push_back(std::make_unique<QSignalSpy>(a, &QAction::triggered));
        pressKey(Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        for (qsizetype i = 0; i < w.f1.TheShortCut.size(); ++i) {
            const QString caption = w.f1.TheShortCut[i]->text();
            QVERIFY2(spies[size_t(i)]->count() == (caption == item ? 1 : 0), qPrintable(caption));
        }
    }

    void upAndDownSetTheVolumeEvenInsidePlayOrder() {
        Windows w;
        QVERIFY(activate(&w.f1));
        w.f1.PlayOrder->setFocus();
        const int start = w.f1.ScrollBar1->value();
        pressKey(Qt::Key_Up);
        QCOMPARE(w.f1.ScrollBar1->value(), start + 2);
        pressKey(Qt::Key_Up);
        pressKey(Qt::Key_Down);
        QCOMPARE(w.f1.ScrollBar1->value(), start + 2);
        QCOMPARE(w.f1.PlayOrder->currentIndex(), 0);
        QCOMPARE(w.f1.Panel3->text(), VolumePercentText(start + 2));
    }

    void playlistWindowsUpAndDownMoveThroughTheListNotTheVolume() {
        Windows w;
        QVERIFY(activate(&w.f2));
        w.f2.ListB->setFocus();
        QSignalSpy up(w.f2.Prev1, &QAction::triggered);
        QSignalSpy down(w.f2.Next1, &QAction::triggered);
        const int start = w.f1.ScrollBar1->value();
        pressKey(Qt::Key_Up);
        pressKey(Qt::Key_Down);
        QCOMPARE(up.count(), 1);
        QCOMPARE(down.count(), 1);
        QCOMPARE(w.f1.ScrollBar1->value(), start);
        pressKey(Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(w.f1.ScrollBar1->value(), start + 2);
    }

    void playOrderKeysChooseTheOrder() {
        Windows w;
        QVERIFY(activate(&w.f1));
        w.f1.PlayOrder->setFocus();
        pressKey(Qt::Key_S, Qt::ShiftModifier);
        QCOMPARE(w.f1.PlayOrder->currentIndex(), 1);
        pressKey(Qt::Key_R, Qt::ShiftModifier);
        QCOMPARE(w.f1.PlayOrder->currentIndex(), 2);
        pressKey(Qt::Key_C, Qt::ShiftModifier);
        QCOMPARE(w.f1.PlayOrder->currentIndex(), 0);
    }

    void keyTDoesNothing() {
        Windows w;
        QVERIFY(activate(&w.f1));
        w.f1.PlayOrder->setFocus();
        const Qt::WindowFlags flags = w.f1.windowFlags();
        pressKey(Qt::Key_T);
        QCOMPARE(w.f1.windowFlags(), flags);
        QCOMPARE(w.f1.PlayOrder->currentIndex(), 0);
        QVERIFY(!w.f1.PlayOrder->view()->isVisible());
    }

    void keyLHidesAndShowsThePlaylistWindow() {
        Windows w;
        QVERIFY(activate(&w.f1));
        pressKey(Qt::Key_L);
        QVERIFY(w.f1.SpeedButton3->isStruckOut());
        QVERIFY(!w.f2.isVisible());
        pressKey(Qt::Key_L);
        QVERIFY(!w.f1.SpeedButton3->isStruckOut());
        QVERIFY(w.f2.isVisible());
    }

    void openKeyAndButtonOfferTheFileDialogAndPlayNothing() {
        TestSupport::MessageRecorder recorder;
        Windows w;
        QVERIFY(activate(&w.f1));
        pressKey(Qt::Key_O);
        QCOMPARE(openDialogs_, 1);
        QTest::mouseClick(w.f1.Open, Qt::LeftButton);
        QCOMPARE(openDialogs_, 2);
        QVERIFY(!w.f1.Timer1->isActive());
        QVERIFY(recorder.errors.isEmpty());
    }

    void altWithTheUnderlinedLetterPressesTheButton() {
        TestSupport::MessageRecorder recorder;
        Windows w;
        QVERIFY(activate(&w.f1));
        w.f1.PlayOrder->setFocus();
        pressKey(Qt::Key_P, Qt::AltModifier);
        QTRY_VERIFY(w.f1.SpeedButton3->isStruckOut());
        pressKey(Qt::Key_A, Qt::AltModifier);
        QTRY_VERIFY(w.f1.SpeedButton5->isStruckOut());
        pressKey(Qt::Key_E, Qt::AltModifier);
        QTRY_COMPARE(doorCommands_, QList<CdDoorCommand>{CdDoorCommand::Close});
        pressKey(Qt::Key_W, Qt::AltModifier);
        QTRY_COMPARE(recorder.messages, QStringList{QStringLiteral("Internet is Connected")});
    }

    // --- marquee ---

    void startTextIsTheContactAndTheApplicationTitle() {
        Windows w;
        QCOMPARE(w.f1.Panel1->text(), QStringLiteral("tolvane@example.org"));
        QCOMPARE(w.f1.windowIconText(), QStringLiteral("tolvane@example.org"));
        QCOMPARE(w.f1.windowTitle(), QStringLiteral("Tolvane"));
    }

    void sixteenCharacterNameReturnsAfterTwentyOneTicks() {
        Windows w;
        const QString displayName = QGuiApplication::applicationDisplayName();
        w.f1.MarqueeText = MarqueeTextFor(SixteenCharacters);
        const QString first = w.f1.MarqueeText;
        QCOMPARE(first.size(), 21);
        QStringList shown;
        for (int tick = 1; tick <= 22; ++tick) {
            w.f1.Timer2Timer();
            QCOMPARE(w.f1.windowIconText(), w.f1.Panel1->text());
            shown << w.f1.Panel1->text();
        }
        QCOMPARE(shown[0], first);
        QCOMPARE(shown[1], QStringLiteral("bcdefghijkl.mp3 *** a"));
        QCOMPARE(QSet<QString>(shown.begin(), shown.begin() + 21).size(), 21);
        QCOMPARE(shown[21], first); // after 21 steps the name is back
        QCOMPARE(w.f1.windowTitle(), QStringLiteral("Tolvane"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), displayName);
    }

    void fifteenCharacterNameStandsStill() {
        Windows w;
        w.f1.MarqueeText = MarqueeTextFor(FifteenCharacters);
        for (int tick = 0; tick < 5; ++tick) {
            w.f1.Timer2Timer();
            QCOMPARE(w.f1.Panel1->text(), QStringLiteral("abcdefghijk.mp3"));
            QCOMPARE(w.f1.windowIconText(), QStringLiteral("abcdefghijk.mp3"));
        }
    }

    void fileNamesThatLookLikeMarkupShowAsTheyAre() {
        Windows w;
        w.f1.MarqueeText = MarqueeTextFor("/music/<i>x<br>.mp3");
        w.f1.Timer2Timer();
        QCOMPARE(w.f1.Panel1->text(), QStringLiteral("<i>x<br>.mp3"));
        QCOMPARE(w.f1.Panel1->textFormat(), Qt::PlainText);
    }

    // --- seek bar ---

    void seekPositionSpreadsTheLengthOverTheBar() {
        QCOMPARE(SeekPosition(212000, 213, 0), 0);
        QCOMPARE(SeekPosition(212000, 213, 106), 106000);
        QCOMPARE(SeekPosition(1000, 213, 1), 4); // 4.7 cut
        QCOMPARE(SeekPosition(0, 213, 150), 0);
        // The bar's last pixel is the end of the track, and no further.
        QCOMPARE(SeekPosition(235000, 213, 212), 235000);
        QCOMPARE(SeekPosition(235000, 213, 220), 235000);
        QCOMPARE(SeekPosition(235000, 213, -3), 0);
    }

    void clickOnTheBarWithNoDeviceOpenDoesNothing() {
        TestSupport::MessageRecorder recorder;
        Windows w;
        QTest::mouseClick(w.f1.Bar, Qt::LeftButton, {}, QPoint(100, 4));
        QTest::mouseClick(w.f1.Bar, Qt::RightButton, {}, QPoint(100, 4));
        QCOMPARE(w.f1.Bar->value(), 0);
        QVERIFY(!w.f1.Timer1->isActive());
        QVERIFY(recorder.errors.isEmpty());
        QVERIFY(recorder.messages.isEmpty());
    }

    void barHintShowsThePlayedPercent() {
        Windows w;
        w.f1.Bar->setMaximum(1000);
        w.f1.Bar->setValue(456);
        QMouseEvent move(QEvent::MouseMove, QPointF(200, 4), w.f1.Bar->mapToGlobal(QPointF(200, 4)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.f1.Bar, &move);
        QCOMPARE(w.f1.Bar->toolTip(), QStringLiteral("Step: 45%"));
    }

    // --- hints ---

    void timePanelHintNamesWhatIsShown() {
        Windows w;
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), w.f1.Panel2->mapToGlobal(QPointF(5, 5)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.f1.Panel2, &move);
        QCOMPARE(w.f1.Panel2->toolTip(), QStringLiteral("Time elapsed"));
        QTest::mouseClick(w.f1.Panel2, Qt::LeftButton);
        QCOMPARE(w.f2.TimeMode, QStringLiteral("elapsed"));
        QCoreApplication::sendEvent(w.f1.Panel2, &move);
        QCOMPARE(w.f1.Panel2->toolTip(), QStringLiteral("Time remaining"));
        QTest::mouseClick(w.f1.Panel2, Qt::LeftButton);
        QCoreApplication::sendEvent(w.f1.Panel2, &move);
        QCOMPARE(w.f1.Panel2->toolTip(), QStringLiteral("Time elapsed"));
    }

    void titlePanelHintIsTheLoadedPath() {
        Windows w;
        w.f1.Panel1MouseMove();
        QCOMPARE(w.f1.Panel1->toolTip(), QString());
        const QByteArray path = "/music/caf\xe9 \xff.mp3"; // not UTF-8
        w.f1.MP->FileName = path;
        w.f1.Panel1MouseMove();
        QCOMPARE(w.f1.Panel1->toolTip(), PathText(path));
    }

    void volumePanelHintTellsWhatAClickDoes() {
        Windows w;
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), w.f1.Panel3->mapToGlobal(QPointF(5, 5)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.f1.Panel3, &move);
        QCOMPARE(w.f1.Panel3->toolTip(), QStringLiteral("Volume\nClick to open vol. control"));
    }

    void hintsAreLimeOnDarkGreyAndHideAfterTwoSeconds() {
        Windows w;
        QVERIFY(activate(&w.f1));
        QCOMPARE(QToolTip::palette().color(QPalette::ToolTipBase), QColor(74, 70, 70));
        QCOMPARE(QToolTip::palette().color(QPalette::ToolTipText), QColor(0, 255, 0));
        const QPoint inside(10, 8);
        QHelpEvent hint(QEvent::ToolTip, inside, w.f1.Panel6->mapToGlobal(inside));
        QCoreApplication::sendEvent(w.f1.Panel6, &hint);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("Step"));
        // Left alone, a hint this short would stay for ten seconds.
        QTRY_VERIFY_WITH_TIMEOUT(!QToolTip::isVisible(), 6000);
    }

    // --- show/hide buttons ---

    void playListButtonHidesAndShowsThePlaylistWindow() {
        Windows w;
        QVERIFY(!w.f1.SpeedButton3->isStruckOut());
        QVERIFY(w.f2.isVisible());
        QTest::mouseClick(w.f1.SpeedButton3, Qt::LeftButton);
        QVERIFY(w.f1.SpeedButton3->isStruckOut());
        QVERIFY(!w.f2.isVisible());
        QTest::mouseClick(w.f1.SpeedButton3, Qt::LeftButton);
        QVERIFY(!w.f1.SpeedButton3->isStruckOut());
        QVERIFY(w.f2.isVisible());
        w.f2.close(); // the playlist window's own close strikes the caption out too
        QVERIFY(w.f1.SpeedButton3->isStruckOut());
        QTest::mouseClick(w.f1.SpeedButton3, Qt::LeftButton);
        QVERIFY(w.f2.isVisible());
    }

    void alarmButtonsFirstPressStrikesOutAndSecondShows() {
        Windows w;
        QVERIFY(!w.f1.SpeedButton5->isStruckOut());
        QVERIFY(!w.f5.isVisible());
        QTest::mouseClick(w.f1.SpeedButton5, Qt::LeftButton);
        QVERIFY(w.f1.SpeedButton5->isStruckOut());
        QVERIFY(!w.f5.isVisible());
        QTest::mouseClick(w.f1.SpeedButton5, Qt::LeftButton);
        QVERIFY(!w.f1.SpeedButton5->isStruckOut());
        QVERIFY(w.f5.isVisible());
        QTest::mouseClick(w.f1.SpeedButton5, Qt::LeftButton);
        QVERIFY(w.f1.SpeedButton5->isStruckOut());
        QVERIFY(!w.f5.isVisible());
    }

    // The program gives the main window no alarm window: the button builds
    // it on its first press, hidden, and the second press shows it.
    void alarmButtonBuildsTheAlarmWindowOnItsFirstPress() {
        TForm1 f1;
        QVERIFY(!f1.Form5);
        QTest::mouseClick(f1.SpeedButton5, Qt::LeftButton);
        QVERIFY(f1.Form5);
        QVERIFY(f1.SpeedButton5->isStruckOut());
        QVERIFY(!f1.Form5->isVisible());
        QTest::mouseClick(f1.SpeedButton5, Qt::LeftButton);
        QVERIFY(f1.Form5->isVisible());
        QCOMPARE(f1.Form5->windowTitle(), QStringLiteral("Alarm"));
    }

    void struckOutCaptionIsDrawn() {
        Windows w;
        const QImage plain = w.f1.SpeedButton3->grab().toImage();
        w.f1.SpeedButton3->setStruckOut(true);
        QVERIFY(w.f1.SpeedButton3->font().strikeOut());
        QVERIFY(w.f1.SpeedButton3->grab().toImage() != plain);
    }

    // --- eject ---

    void ejectClosesTheDoorFirstThenOpensIt() {
        TestSupport::MessageRecorder recorder;
        Windows w;
        QVERIFY(!w.f1.SpeedButton6->isStruckOut());
        QTest::mouseClick(w.f1.SpeedButton6, Qt::LeftButton);
        QVERIFY(w.f1.SpeedButton6->isStruckOut());
        QCOMPARE(doorCommands_, QList<CdDoorCommand>{CdDoorCommand::Close});
        QTest::mouseClick(w.f1.SpeedButton6, Qt::LeftButton);
        QVERIFY(!w.f1.SpeedButton6->isStruckOut());
        QCOMPARE(doorCommands_, (QList<CdDoorCommand>{CdDoorCommand::Close, CdDoorCommand::Open}));
        QVERIFY(recorder.messages.isEmpty());
        QVERIFY(recorder.errors.isEmpty());
    }

    void cdDriveIsTheFirstBlockDeviceOfItsNames() {
        QTemporaryDir folder;
        const QByteArray file = QFile::encodeName(folder.filePath(QStringLiteral("sr0")));
        QFile(QFile::decodeName(file)).open(QIODevice::WriteOnly);
        QCOMPARE(FirstCdDevice({"/nonexistent/sr0", "/dev/null", file}), QByteArray());
        const QList<QByteArray> names = CdDeviceCandidates();
        QCOMPARE(names.first(), QByteArray("/dev/cdrom"));
        QVERIFY(names.contains("/dev/sr0"));
    }

    // --- webpage ---

    void webpageTellsTheConnectionState() {
        TestSupport::MessageRecorder recorder;
        Windows w;
        connected_ = true;
        QTest::mouseClick(w.f1.SpeedButton4, Qt::LeftButton);
        connected_ = false;
        QTest::mouseClick(w.f1.SpeedButton4, Qt::LeftButton);
        QCOMPARE(recorder.messages, (QStringList{QStringLiteral("Internet is Connected"),
                                                 QStringLiteral("Internet is not Connected")}));
        QVERIFY(recorder.errors.isEmpty());
    }

    void defaultRouteCountsWhenUpAndNoRejectRoute() {
        const QByteArray heading =
            "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
        const QByteArray local = "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
        const QByteArray gateway = "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
        const QByteArray down = "eth0\t00000000\t0102A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n";
        const QByteArray zeros(32, '0');
        const QByteArray rejectV6 = zeros + " 00 " + zeros + " 00 " + zeros +
                                    " ffffffff 00000001 00000000 00200200       lo\n";
        const QByteArray gatewayV6 = zeros + " 00 " + zeros +
                                     " 00 fe800000000000000000000000000001"
                                     " 00000400 00000001 00000000 00000003     eth0\n";
        QVERIFY(HasDefaultRoute(heading + local + gateway, rejectV6));
        QVERIFY(!HasDefaultRoute(heading + local, rejectV6));
        QVERIFY(!HasDefaultRoute(heading + local + down, QByteArray()));
        QVERIFY(HasDefaultRoute(heading, rejectV6 + gatewayV6));
        QVERIFY(!HasDefaultRoute(QByteArray(), QByteArray()));
    }

    void desktopNetworkInformationAnswersWhenItKnows() {
        // The program asks Qt Network; this test runs in the same process,
        // so it shares the backend the program loads and sees what that
        // backend says.
        SetConnectionStandIn(nullptr);
        bool connected = IsInternetConnected();
        QVERIFY(QNetworkInformation::instance() || !QNetworkInformation::loadDefaultBackend());
        // Without the desktop's default (NetworkManager), a backend loaded
        // here is the one the program must ask.
        if (!QNetworkInformation::instance() &&
            QNetworkInformation::loadBackendByName(QStringLiteral("glib")))
            connected = IsInternetConnected();
        SetConnectionStandIn([this] { return connected_; });
        QNetworkInformation* information = QNetworkInformation::instance();
        if (!information)
            QSKIP("no network information backend on this machine");
        switch (information->reachability()) {
        case QNetworkInformation::Reachability::Online:
            QVERIFY(connected);
            break;
        case QNetworkInformation::Reachability::Unknown:
            break;
        default:
            QVERIFY(!connected);
        }
    }

    // --- volume panel ---

    void volumePanelClickStartsTheVolumeControl() {
        Windows w;
        QTest::mouseClick(w.f1.Panel3, Qt::LeftButton);
        QCOMPARE(desktopRequests_, QStringList{QStringLiteral("volume-control")});
    }

    void volumePanelClickWithNoVolumeControlShowsNothing() {
        TestSupport::MessageRecorder recorder;
        Windows w;
        QTemporaryDir emptyPath;
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(emptyPath.path()));
        SetDesktopRecorder(nullptr);
        QVERIFY(!StartVolumeControl());
        QTest::mouseClick(w.f1.Panel3, Qt::LeftButton);
        qputenv("PATH", savedPath);
        SetDesktopRecorder(
            [this](const QString& action, const QByteArray&) { desktopRequests_ << action; });
        QVERIFY(recorder.messages.isEmpty());
        QVERIFY(recorder.errors.isEmpty());
    }

    // --- closing ---

    void closingTheWindowRetiresTheShortcutItems() {
        Windows w;
        w.f1.close();
        for (QAction* item : std::as_const(w.f1.TheShortCut))
            QVERIFY2(!item->isEnabled(), qPrintable(item->text()));
        QVERIFY(!w.f1.Timer1->isActive());
    }

    // --- screenshot ---

    void screenshotOfTheWindowIsWritten() {
        Windows w;
        QVERIFY(activate(&w.f1));
        // A track half-way through, so the picture shows every display in use.
        w.f1.MarqueeText = QStringLiteral("Morning Song.mp3");
        w.f1.Timer2Timer();
        w.f1.Panel2->setText(QStringLiteral("01:05 "));
        w.f1.Bar->setMaximum(265500);
        w.f1.Bar->setValue(110000);
        w.f1.Panel6->setText(QStringLiteral("41%"));
        w.f1.ProgressBar1->setValue(100);
        w.f1.ScrollBar1->setValue(180);
        const QString folder = qEnvironmentVariable("TOLVANE_SCREENSHOT_DIR", QDir::currentPath());
        const QString path = QDir(folder).filePath(QStringLiteral("mainwindow.png"));
        QVERIFY(w.f1.grab().save(path));
        QCOMPARE(QImage(path).size(), QSize(283, 111));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
