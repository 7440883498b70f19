// Dolphin's thumbnails: KIO's thumbnail worker asks this plugin for a save's picture, and the
// plugin runs the installed `marrowin-cli thumbnail`, as the freedesktop thumbnailer entry does.
//
// A process rather than our library in-process: the worker is one long-lived process serving
// every preview of the session, and a save is hostile input. A crash, a runaway allocation or
// a stall in a reader or in the GL driver would take the worker, and every other file's
// preview, down with it; a child is killed on a deadline and nothing of it stays behind. The
// CLI already has the size limits and draws exactly what the other file managers show, and
// EGL stays out of a Qt process that may hold a GL context of its own. The price, one process
// start per picture, is paid once: KIO caches the thumbnail.
#include <dlfcn.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <KIO/ThumbnailCreator>
#include <KPluginFactory>

#ifndef MARROWIN_KIO_CLI_RELATIVE
#define MARROWIN_KIO_CLI_RELATIVE "../../../../../../bin"
#endif

namespace {

// A picture takes well under a second, a few on a loaded machine (most of it starting EGL); a
// program that keeps longer is given up on, so the worker moves on to the next file.
constexpr int DEADLINE_MS = 10000;
constexpr int MAX_SIDE = 4096;
// An RGBA PNG of the largest side, uncompressed, with room for its chunks.
constexpr qint64 MAX_PNG_BYTES = qint64(MAX_SIDE) * MAX_SIDE * 4 + (qint64(1) << 20);

// The CLI installed with this plugin (the relative path from the plugin's folder to bindir),
// so an installed plugin never runs another build's program; PATH only when moved apart.
QString cliProgram() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&cliProgram), &info) && info.dli_fname) {
        const QFileInfo plugin(QString::fromLocal8Bit(info.dli_fname));
        const QFileInfo beside(plugin.absolutePath() + QStringLiteral("/" MARROWIN_KIO_CLI_RELATIVE "/marrowin-cli"));
        if (beside.isFile() && beside.isExecutable()) return beside.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("marrowin-cli"));
}

void stop(QProcess& process) {
    process.kill();
    process.waitForFinished(1000);
}

}  // namespace

class MarrowinThumbnail : public KIO::ThumbnailCreator {
    Q_OBJECT
public:
    MarrowinThumbnail(QObject* parent, const QVariantList& args) : KIO::ThumbnailCreator(parent, args) {}

    KIO::ThumbnailResult create(const KIO::ThumbnailRequest& request) override {
        // KIO hands a remote file over as a local copy; anything else has no path to give.
        const QString path = request.url().toLocalFile();
        const QString cli = cliProgram();
        if (path.isEmpty() || cli.isEmpty()) return KIO::ThumbnailResult::fail();
        const QSize target = request.targetSize();
        const int side = qBound(1, qMax(target.width(), target.height()), MAX_SIDE);

        QProcess process;
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(cli, {QStringLiteral("thumbnail"), QStringLiteral("-q"), QStringLiteral("-s"),
                            QString::number(side), QStringLiteral("--"), path, QStringLiteral("-")},
                      QIODevice::ReadOnly);
        const QDeadlineTimer deadline(DEADLINE_MS);
        if (!process.waitForStarted(DEADLINE_MS)) return KIO::ThumbnailResult::fail();

        // Read as it comes, so a program that writes without end is stopped at the cap rather
        // than buffered whole.
        QByteArray png;
        while (process.state() != QProcess::NotRunning) {
            const qint64 left = deadline.remainingTime();
            if (left == 0) {
                stop(process);
                return KIO::ThumbnailResult::fail();
            }
            if (!process.waitForReadyRead(int(left)) && process.state() != QProcess::NotRunning &&
                process.bytesAvailable() == 0)
                // Output closed but still running: wait for its end, not for more bytes.
                process.waitForFinished(int(qMax<qint64>(deadline.remainingTime(), 1)));
            png += process.readAllStandardOutput();
            if (png.size() > MAX_PNG_BYTES) {
                stop(process);
                return KIO::ThumbnailResult::fail();
            }
        }
        png += process.readAllStandardOutput();
        // Exit 0 only with a whole picture: a damaged save may be drawn in part, and fails.
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || png.size() > MAX_PNG_BYTES)
            return KIO::ThumbnailResult::fail();

        QImage image;
        if (!image.loadFromData(png, "PNG") || image.width() != side || image.height() != side)
            return KIO::ThumbnailResult::fail();
        return KIO::ThumbnailResult::pass(image.convertToFormat(QImage::Format_ARGB32));
    }
};

K_PLUGIN_CLASS_WITH_JSON(MarrowinThumbnail, "marrowinthumbnail.json")

#include "marrowin_thumbnail.moc"
