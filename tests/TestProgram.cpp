#include "TestProgram.h"

#include "TestSupport.h"

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

} // namespace TestSupport
