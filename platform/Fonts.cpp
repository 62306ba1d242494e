#include "Fonts.h"

#include <QFont>
#include <QStringList>

void InstallFontSubstitutions()
{
    // Arial resolves to its metric twin (Liberation Sans) where it is missing;
    // the old bitmap sans is closest to it in width.
    // Windows keeps the old sans as a bitmap font, which Qt draws with
    // glyphs missing ("I", "!"); the fonts ask for outlines only, and
    // Windows' own outline twin of it comes first.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Times New Roman"), {QStringLiteral("Liberation Serif")});
    QFont::insertSubstitutions(QStringLiteral("Arial"), {QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Arial Narrow"), {QStringLiteral("Liberation Sans Narrow")});
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
    f.setStyleStrategy(QFont::ForceOutline);
    // Glyphs fitted to the pixel grid up and down only: the text keeps its
    // designed width, as the window's fixed label sizes expect, wherever
    // Qt itself renders (FreeType with its full hinting widens letters).
    f.setHintingPreference(QFont::PreferVerticalHinting);
    return f;
}

QFont countPanelFont()
{
    // Arial Narrow (or its metric twin) draws the digits 5 pixels wide at
    // this height, as the old bitmap sans did; where neither narrow face is
    // installed the old sans itself is the one that fits. The narrow face
    // comes first because Qt tries every family named before any family's
    // substitutes.
    QFont f;
    f.setFamilies({QStringLiteral("Arial Narrow"), QStringLiteral("MS Sans Serif")});
    f.setPixelSize(11);
    f.setStyleStrategy(QFont::ForceOutline);
    f.setHintingPreference(QFont::PreferVerticalHinting);
    return f;
}
