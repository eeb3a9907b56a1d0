// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's About and Update buttons and its banner, beside the dialog and the pane they
// drive.
#include "about/Banner.h"
#include "about/Encodestring.h"
#include "about/Formabout.h"
#include "app/Formmain.h"
#include "platform/MessageBox.h"

#include <QFile>

void TMainForm::ButtonAboutClick() {
    AboutForm->HomePage = DecodeString(EncodedHomePage);
    AboutForm->exec();
}

void TMainForm::ButtonUpdateClick() {
    OpenHomePage(DecodeString(EncodedHomePage), NoBrowserText(),
                 LanguageText(QStringLiteral("Common"), QStringLiteral("Message"), QString()));
}

QString TMainForm::NoBrowserText() const {
    return LanguageText(QStringLiteral("Messages"), QStringLiteral("NoBrowser"),
                        QStringLiteral("No web browser could be opened. The home page is:"));
}

void TMainForm::SetUpBanner() {
    AdFile = TempPath + QStringLiteral("_WavestitchAd.swf");
    adFileOnSignal_.emplace(QFile::encodeName(AdFile));
    QString error;
    QStringList lines;
    // A file or resource that fails is reported like any other error and the pane stays empty.
    if (!WriteResourceToFile(QStringLiteral("Binary"), QStringLiteral("ADFlash"), AdFile, error) ||
        !ReadResourceLines(QStringLiteral("HTM"), QStringLiteral("ShowFlashHtml"), lines, error)) {
        platform::ReportException(error);
        return;
    }
    const QByteArray page = MakeBannerPage(lines, AdFile);
    CppWebBrowser1->Navigate(QStringLiteral("about:blank"));
    CppWebBrowser1->Load(page);
}

void TMainForm::CppWebBrowser1DocumentComplete(QObject* sender) {
    if (auto* pane = qobject_cast<TBannerPane*>(sender)) {
        pane->SetBodyBorder(QStringLiteral("none"));
    }
}
