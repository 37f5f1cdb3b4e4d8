#include "TestProgram.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>

namespace TestSupport {

QString StateFolder::playlistPath() const {
    return filePath(QStringLiteral("tolvane/PlayList.plf"));
}

void StateFolder::writePlaylist(const QByteArray& content) const {
    QVERIFY(QDir().mkpath(filePath(QStringLiteral("tolvane"))));
    WriteFile(QFile::encodeName(playlistPath()), content);
}

QProcessEnvironment StateFolder::environment(QProcessEnvironment base) const {
    base.insert(QStringLiteral("XDG_STATE_HOME"), path());
    return base;
}

void StartProgram(QProcess& player, const QProcessEnvironment& env, const QStringList& arguments) {
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    player.start(QStringLiteral(TOLVANE_PROGRAM), arguments);
    QVERIFY(player.waitForStarted());
}

PrivateDisplay::PrivateDisplay(const QString& screen) {
    xvfb_.start(QStringLiteral("Xvfb"),
                {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                 QStringLiteral("0"), screen, QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                 QStringLiteral("-noreset")});
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired() && !xvfb_.canReadLine();)
        xvfb_.waitForReadyRead(100);
    if (const QByteArray number = xvfb_.readLine().trimmed(); !number.isEmpty())
        name = u':' + QString::fromLatin1(number);
}

PrivateDisplay::~PrivateDisplay() {
    xvfb_.terminate();
    xvfb_.waitForFinished(5000);
}

} // namespace TestSupport
