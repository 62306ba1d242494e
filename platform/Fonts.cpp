#include "Fonts.h"

#include <QFont>
#include <QStringList>

void InstallFontSubstitutions()
{
    // Arial resolves to its metric twin (Liberation Sans) where it is missing;
    // the old bitmap sans is closest to it in width.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Times New Roman"), {QStringLiteral("Liberation Serif")});
    QFont::insertSubstitutions(QStringLiteral("Arial"), {QStringLiteral("Liberation Sans")});
    // SimSun draws Latin letters as narrow serif glyphs half its character
    // height wide; the CJK fonts at hand draw them wider, so that a line of
    // the About box's credits runs past its text area. A serif Latin font as
    // narrow comes first and draws every Latin text; the CJK font after it
    // supplies the Chinese characters.
    const QStringList song = {QStringLiteral("SimSun"), QStringLiteral("Liberation Serif"),
                              QStringLiteral("WenQuanYi Zen Hei"),
                              QStringLiteral("Noto Sans CJK SC")};
    QFont::insertSubstitutions(QStringLiteral("宋体"), song);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), song.mid(1));
}

QFont pixelFont(const QString& family, int pixels)
{
    QFont f(family);
    f.setPixelSize(pixels);
    return f;
}
