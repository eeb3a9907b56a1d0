// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Banner.h"

#include "platform/Accessibility.h"
#include "platform/ShellOpen.h"

#include <qdrawutil.h>
#include <QBuffer>
#include <QFile>
#include <QMouseEvent>
#include <QMovie>
#include <QPainter>
#include <QRegularExpression>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString ResourcePath(const QString& type, const QString& name) {
    return QStringLiteral(":/%1/%2").arg(type, name);
}

QString NotFound(const QString& name) {
    return QStringLiteral("Resource %1 not found").arg(name);
}

// The first capture of the first match, or an empty text.
QString Capture(const QString& text, const QRegularExpression& pattern) {
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}

// Reads the data sub-blocks at pos into data; false when the file ends inside them.
bool ReadSubBlocks(const QByteArray& gif, qsizetype& pos, QByteArray* data) {
    while (pos < gif.size()) {
        const int length = static_cast<unsigned char>(gif[pos++]);
        if (length == 0) {
            return true;
        }
        if (pos + length > gif.size()) {
            return false;
        }
        if (data != nullptr) {
            data->append(gif.constData() + pos, length);
        }
        pos += length;
    }
    return false;
}

qsizetype ColourTableSize(int flags) {
    return (flags & 0x80) != 0 ? 3 * (qsizetype{2} << (flags & 0x07)) : 0;
}

}  // namespace

TBannerPane::TBannerPane(QWidget* parent) : QWidget(parent), stopTimer_(new QTimer(this)) {
    // The page blocks the context menu; the pane has none to offer anyway.
    setContextMenuPolicy(Qt::PreventContextMenu);
    stopTimer_->setSingleShot(true);
    connect(stopTimer_, &QTimer::timeout, this, &TBannerPane::StopAnimation);
    platform::SetAccessibleRole(this, QAccessible::Link);
    setAccessibleName(QString::fromUtf8(kPictureText));
}

TBannerPane::~TBannerPane() = default;

void TBannerPane::ClearPage() {
    stopTimer_->stop();
    delete movie_;
    movie_ = nullptr;
    delete movieData_;
    movieData_ = nullptr;
    pageText_.clear();
    movieFile_.clear();
    link_.clear();
    background_ = Qt::white;
    bodyBorder_ = QLatin1String(kDefaultBorder);
    unsetCursor();
}

void TBannerPane::Navigate(const QString& url) {
    ClearPage();
    Q_UNUSED(url);
    update();
    emit DocumentComplete();
}

void TBannerPane::Load(const QByteArray& page) {
    ClearPage();
    pageText_ = QString::fromUtf8(page);

    static const QRegularExpression backgroundPattern(
        QStringLiteral(R"(background(?:-color)?\s*:\s*(#[0-9A-Fa-f]{6}))"));
    static const QRegularExpression moviePattern(
        QStringLiteral(R"re(<param\s+name\s*=\s*"movie"\s+value\s*=\s*"([^"]*)")re"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression embedPattern(QStringLiteral(R"re(<embed\s[^>]*\bsrc\s*=\s*"([^"]*)")re"),
                                                 QRegularExpression::CaseInsensitiveOption);
    const QColor background(Capture(pageText_, backgroundPattern));
    if (background.isValid()) {
        background_ = background;
    }
    movieFile_ = Capture(pageText_, moviePattern);
    if (movieFile_.isEmpty()) {
        movieFile_ = Capture(pageText_, embedPattern);
    }

    // The animation is read whole, so it plays on even when another copy of the program replaces
    // or deletes the shared file.
    QFile file(movieFile_);
    if (!movieFile_.isEmpty() && file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        link_ = GifComment(bytes);
        movieData_ = new QBuffer(this);
        movieData_->setData(bytes);
        movie_ = new QMovie(movieData_, QByteArray(), this);
        // Kept frames let the animation be stopped on its last one (a GIF cannot jump back).
        movie_->setCacheMode(QMovie::CacheAll);
        if (movie_->isValid()) {
            connect(movie_, &QMovie::frameChanged, this, [this] { update(); });
            movie_->start();
            if (animationMs_ > 0) {
                stopTimer_->start(animationMs_);
            } else {
                StopAnimation();
            }
        }
    }
    if (!link_.isEmpty()) {
        setCursor(Qt::PointingHandCursor);
    }
    update();
    emit DocumentComplete();
}

void TBannerPane::SetAnimationTime(int ms) {
    animationMs_ = ms;
    if (ms <= 0) {
        StopAnimation();
    }
}

void TBannerPane::StopAnimation() {
    stopTimer_->stop();
    if (movie_ == nullptr || !movie_->isValid() || movie_->state() == QMovie::NotRunning) {
        return;
    }
    // Stopping keeps the frame shown; a stopped movie no longer jumps.
    movie_->jumpToFrame(movie_->frameCount() - 1);
    movie_->stop();
    update();
}

void TBannerPane::SetBodyBorder(const QString& border) {
    bodyBorder_ = border;
    update();
}

void TBannerPane::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), background_);
    if (movie_ != nullptr && movie_->isValid()) {
        // The page's margins are 0: the animation sits in the top left corner.
        p.drawPixmap(0, 0, movie_->currentPixmap());
    }
    if (bodyBorder_.compare(QLatin1String("none"), Qt::CaseInsensitive) != 0) {
        qDrawShadePanel(&p, rect(), palette(), true, 2);
    }
}

void TBannerPane::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) {
        // The browser would open a new window on the address; the desktop's browser does that here.
        platform::ShellOpen(link_);
    }
    QWidget::mouseReleaseEvent(e);
}

bool WriteResourceToFile(const QString& type, const QString& name, const QString& path, QString& error) {
    QFile resource(ResourcePath(type, name));
    if (!resource.open(QIODevice::ReadOnly)) {
        error = NotFound(name);
        return false;
    }
    const QByteArray data = resource.readAll();
    // Whatever is in the file's place is replaced, never written through: a link planted there
    // would otherwise send the data to a file of the link's choosing.
    const QByteArray file8 = QFile::encodeName(path);
    int fd = -1;
    if (unlink(file8.constData()) == 0 || errno == ENOENT) {
        fd = open(file8.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        error = QStringLiteral("Cannot create file \"%1\". %2")
                    .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        close(fd);
        error = QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString());
        return false;
    }
    if (file.write(data) != data.size() || !file.flush()) {
        error = QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool ReadResourceLines(const QString& type, const QString& name, QStringList& lines, QString& error) {
    QFile resource(ResourcePath(type, name));
    if (!resource.open(QIODevice::ReadOnly)) {
        error = NotFound(name);
        return false;
    }
    lines = QString::fromUtf8(resource.readAll()).split(QLatin1Char('\n'));
    // A line break ends a line; it does not start another one.
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
    }
    return true;
}

QByteArray MakeBannerPage(const QStringList& templateLines, const QString& adFile) {
    QString text;
    for (const QString& line : templateLines) {
        text += line + QLatin1String("\r\n");
    }
    text.replace(QLatin1String("iniflash.swf"), adFile, Qt::CaseSensitive);
    return text.toUtf8();
}

QString GifComment(const QByteArray& gif) {
    constexpr qsizetype kScreenDescriptorEnd = 13;
    if (!gif.startsWith("GIF8") || gif.size() < kScreenDescriptorEnd) {
        return QString();
    }
    qsizetype pos = kScreenDescriptorEnd + ColourTableSize(static_cast<unsigned char>(gif[10]));
    while (pos < gif.size()) {
        const int introducer = static_cast<unsigned char>(gif[pos]);
        if (introducer == 0x21 && pos + 1 < gif.size()) {
            const bool comment = static_cast<unsigned char>(gif[pos + 1]) == 0xFE;
            pos += 2;
            QByteArray data;
            if (!ReadSubBlocks(gif, pos, comment ? &data : nullptr)) {
                return QString();
            }
            if (comment) {
                return QString::fromLatin1(data);
            }
        } else if (introducer == 0x2C && pos + 10 < gif.size()) {
            // Image descriptor, its own colour table, the code size byte, then the image data.
            pos += 10 + ColourTableSize(static_cast<unsigned char>(gif[pos + 9])) + 1;
            if (!ReadSubBlocks(gif, pos, nullptr)) {
                return QString();
            }
        } else {
            return QString();
        }
    }
    return QString();
}
