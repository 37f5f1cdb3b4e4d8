// Writes the player's icon in the sizes of the desktop's icon theme layout,
// hicolor/NxN/apps/tolvane.png, scaled smoothly from the window icon, so that
// the installed icons and the windows' icon never differ.
//
//   tolvane_icons ICON.png OUTPUT_FOLDER

#include <QDir>
#include <QImage>
#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fputs("usage: tolvane_icons ICON.png OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    const QImage icon(QString::fromLocal8Bit(argv[1]));
    if (icon.isNull()) {
        std::fprintf(stderr, "tolvane_icons: cannot read %s\n", argv[1]);
        return 1;
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QDir(QString::fromLocal8Bit(argv[2]))
                                   .filePath(QStringLiteral("hicolor/%1x%1/apps").arg(size));
        const QImage scaled =
            icon.size() == QSize(size, size)
                ? icon
                : icon.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (!QDir().mkpath(folder) ||
            !scaled.save(QDir(folder).filePath(QStringLiteral("tolvane.png")))) {
            std::fprintf(stderr, "tolvane_icons: cannot write into %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
