#include "shared/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

void MessageBoxes::plain(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok);
    box.exec();
}

void MessageBoxes::error(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text);
    box.addButton(QStringLiteral("&Yes"), QMessageBox::AcceptRole);
    box.exec();
}

void MessageBoxes::failure(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text, QMessageBox::Ok);
    box.exec();
}
