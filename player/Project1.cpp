// The program entry: the main window first (it becomes the application's main
// window), then the playlist window below it, then the hidden alarm window.

#include "player/Unit1.h"
#include "platform/Memory.h"
#include "platform/Termination.h"
#include "playlist/Unit2.h"
#include "windows/Unit5.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    LimitMallocArenas();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tolvane"));
    // The program's windows share the player's icon. The title a task bar
    // shows is the main window's icon text, which the marquee keeps.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    QApplication::setQuitOnLastWindowClosed(false);
    QuitOnTerminationSignals();

    TForm1 form1;
    form1.show();
    TForm2 form2(&form1);
    TForm5 form5;
    form1.Form5 = &form5;

    const int result = application.exec();
    form2.SaveAutomaticPlaylist();
    return result;
}
