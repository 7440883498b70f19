// Asks KIO for previews the way Dolphin does: one KIO::PreviewJob over the files, only our
// plugin enabled, the pictures taken from its gotPreview signal. Prints one line per file:
//   preview NAME WIDTHxHEIGHT MILLISECONDS   (the picture saved as OUTDIR/NAME.png)
//   failed NAME MILLISECONDS
// Milliseconds count from the previous answer, so a stalled worker shows on the file after.
//
//   kio_preview_probe SIZE OUTDIR FILE...
#include <cstdio>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include <KFileItem>
#include <KIO/PreviewJob>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fputs("usage: kio_preview_probe SIZE OUTDIR FILE...\n", stderr);
        return 2;
    }
    const int size = QString::fromLocal8Bit(argv[1]).toInt();
    const QDir out(QString::fromLocal8Bit(argv[2]));
    KFileItemList items;
    for (int i = 3; i < argc; ++i)
        items.append(KFileItem(QUrl::fromLocalFile(QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath())));

    const QStringList plugins{QStringLiteral("marrowinthumbnail")};
    KIO::PreviewJob* job = KIO::filePreview(items, QSize(size, size), &plugins);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(job, &KIO::PreviewJob::gotPreview, [&](const KFileItem& item, const QPixmap& pixmap) {
        const QImage image = pixmap.toImage();
        const bool saved = image.save(out.filePath(item.name() + QStringLiteral(".png")), "PNG");
        std::printf("preview %s %dx%d %lld%s\n", qPrintable(item.name()), image.width(), image.height(),
                    clock.restart(), saved ? "" : " (not saved)");
        std::fflush(stdout);
    });
    QObject::connect(job, &KIO::PreviewJob::failed, [&](const KFileItem& item) {
        std::printf("failed %s %lld\n", qPrintable(item.name()), clock.restart());
        std::fflush(stdout);
    });
    QObject::connect(job, &KJob::result, &app, [&](KJob*) { app.exit(0); });
    QTimer::singleShot(120000, &app, [&] {
        std::puts("timeout");
        app.exit(3);
    });
    return app.exec();
}
