#include "app/HelpWindow.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("KORVANT — справка"));
    m_browser = new QTextBrowser(this);
    m_browser->setOpenExternalLinks(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(640, 560);
}

bool HelpWindow::showContents(const QString& file) {
    if (!QFileInfo::exists(file))
        return false;
    QUrl url = QUrl::fromLocalFile(file);
    url.setFragment(QStringLiteral("contents"));
    m_browser->setSource(url);
    show();
    raise();
    return true;
}

QString HelpWindow::helpFile() {
    const QString beside =
        QCoreApplication::applicationDirPath() + QStringLiteral("/help/korvant.html");
    if (QFileInfo::exists(beside))
        return beside;
    if (QFileInfo::exists(QStringLiteral(KORVANT_HELP_INSTALLED)))
        return QStringLiteral(KORVANT_HELP_INSTALLED);
    return QStringLiteral(KORVANT_HELP_SOURCE); // a program run from the build tree
}
