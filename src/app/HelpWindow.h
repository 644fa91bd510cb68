#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

// The program's help, a Russian HTML file that the project ships, shown at its contents.
class HelpWindow final : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);
    // Shows the file at its table of contents; false when the file is missing.
    bool showContents(const QString& helpFile);
    QTextBrowser* browser() const { return m_browser; }

    // Where the program looks for its help: beside the program, where it is installed,
    // then in the source tree it was built from.
    static QString helpFile();

private:
    QTextBrowser* m_browser = nullptr;
};
