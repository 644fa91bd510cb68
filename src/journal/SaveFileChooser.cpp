#include "journal/SaveFileChooser.h"

#include <QFileDialog>

QString SaveFileDialog::chooseFile(QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Экспорт журнала"), suggested,
                                        QStringLiteral("Текст (*.txt);;Все файлы (*)"));
}
