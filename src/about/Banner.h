// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>

class QBuffer;
class QMovie;
class QTimer;

// The banner pane at the right end of the tool bar: a light stand-in for a browser showing a page
// with one embedded animation. It takes the page's background colour and plays the animation file
// the page names; a click opens the address the animation carries.
class TBannerPane : public QWidget {
    Q_OBJECT
public:
    // The border a fresh page's body has: the browser's sunken frame.
    static constexpr const char* kDefaultBorder = "2px inset";
    // How long an animation plays before it rests on its last frame: moving pictures that never
    // stop keep some readers from reading anything else.
    static constexpr int kAnimationMs = 5000;
    // What the animation says (scripts/make-banner draws it): the pane's name as a link.
    static constexpr const char* kPictureText = "Wavestitch: join WAV + MP3 + WMA";

    explicit TBannerPane(QWidget* parent = nullptr);
    ~TBannerPane() override;

    // Shows an empty page; "about:blank" is the only address the pane knows.
    void Navigate(const QString& url);
    // Shows the page text (UTF-8), as a browser document loaded from a stream.
    void Load(const QByteArray& page);

    const QString& PageText() const { return pageText_; }
    QColor Background() const { return background_; }
    // The animation file named in the page, its animation (null when none could be read) and the
    // address it opens.
    const QString& MovieFile() const { return movieFile_; }
    QMovie* Movie() const { return movie_; }
    const QString& Link() const { return link_; }

    // The time the animations of this and later pages play; 0 or less shows their last frame
    // at once, as for people who asked their desktop for less motion.
    void SetAnimationTime(int ms);
    // Stops the animation on its last frame.
    void StopAnimation();

    // The page body's style border; any value but "none" draws the frame.
    const QString& BodyBorder() const { return bodyBorder_; }
    void SetBodyBorder(const QString& border);

signals:
    // A page has been shown, the empty one included.
    void DocumentComplete();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void ClearPage();

    QString pageText_;
    QColor background_ = Qt::white;
    QString movieFile_;
    QString link_;
    QString bodyBorder_ = QLatin1String(kDefaultBorder);
    QBuffer* movieData_ = nullptr;
    QMovie* movie_ = nullptr;
    QTimer* stopTimer_ = nullptr;
    int animationMs_ = kAnimationMs;
};

// Resources are kept by type and name, as ":/<type>/<name>".
// Writes the whole resource to a new file at path, replacing whatever was there (a link is
// removed, not followed). On failure returns false and the text of the error report in error.
bool WriteResourceToFile(const QString& type, const QString& name, const QString& path, QString& error);
// The resource as text lines; false and the error report text when it does not exist.
bool ReadResourceLines(const QString& type, const QString& name, QStringList& lines, QString& error);

// The banner page: the template's lines with every "iniflash.swf" replaced by adFile, each line
// ended by CR LF, as UTF-8.
QByteArray MakeBannerPage(const QStringList& templateLines, const QString& adFile);

// The first comment of a GIF file; empty when there is none or the file is cut short.
QString GifComment(const QByteArray& gif);
