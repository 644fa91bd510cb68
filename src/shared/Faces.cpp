#include "shared/Faces.h"

#include <cmath>

namespace Faces {

void installSubstitutions() {
    const QStringList sans{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")};
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), sans);
    QFont::insertSubstitutions(QStringLiteral("Arial"), sans);
    QFont::insertSubstitutions(QStringLiteral("Courier New"), {QStringLiteral("Liberation Mono"),
                                                               QStringLiteral("DejaVu Sans Mono")});
}

QFont designFont(const QString& face, int pixelHeight, double scale, bool bold) {
    QFont font(face);
    font.setPixelSize(std::max(1, int(std::lround(pixelHeight * scale))));
    font.setBold(bold);
    if (face == QLatin1String("Courier New"))
        font.setStyleHint(QFont::Monospace);
    return font;
}

} // namespace Faces
