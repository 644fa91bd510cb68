#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

// The windows name the faces they were designed with ("MS Sans Serif", "Courier New",
// "Arial"). On Linux these are looked up as their metric twins with Cyrillic letters,
// which the setup installs (Liberation), with DejaVu behind them.
namespace Faces {

void installSubstitutions();

// A font of the given face with a character height given in design pixels.
QFont designFont(const QString& face, int pixelHeight, double scale, bool bold = false);

} // namespace Faces
