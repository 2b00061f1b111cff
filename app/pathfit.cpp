#include "app/pathfit.h"

namespace {

QChar delimiterOf(PathSyntax syntax)
{
    return syntax == PathSyntax::Windows ? u'\\' : u'/';
}

// True for a character that ends the folder part of a path.
bool endsFolderPart(QChar c, PathSyntax syntax)
{
    return c == delimiterOf(syntax) || (syntax == PathSyntax::Windows && c == u':');
}

} // namespace

QString dropFirstFolder(const QString& folderPart, PathSyntax syntax)
{
    const QChar delimiter = delimiterOf(syntax);
    const QString ellipsis = QStringLiteral("...") + delimiter;

    QString s = folderPart;
    if (s.size() == 1 && s.front() == delimiter)
        return QString();
    const bool rooted = s.startsWith(delimiter);
    if (rooted)
        s.remove(0, 1);
    // A leading "." is taken for the "..." and delimiter that an earlier step left; a folder whose
    // own name starts with "." loses its first four characters the same way, which the "..." put
    // in front below still stands for.
    if (s.startsWith(u'.'))
        s.remove(0, 4);
    const qsizetype firstDelimiter = s.indexOf(delimiter);
    if (firstDelimiter >= 0)
        s = ellipsis + s.mid(firstDelimiter + 1);
    else
        s.clear();
    if (rooted)
        s.prepend(delimiter);
    return s;
}

QString fitPathToWidth(const QString& path, const std::function<int(const QString&)>& textWidth,
                       int maxWidth, PathSyntax syntax)
{
    const QChar delimiter = delimiterOf(syntax);
    const QString rootedEllipsis = delimiter + QStringLiteral("...") + delimiter;

    qsizetype split = path.size();
    while (split > 0 && !endsFolderPart(path[split - 1], syntax))
        --split;
    QString folderPart = path.left(split);
    const QString name = path.mid(split);

    QString drive;
    if (syntax == PathSyntax::Windows && folderPart.size() >= 2 && folderPart[1] == u':') {
        drive = folderPart.left(2);
        folderPart.remove(0, 2);
    }

    // Emptiness is tested before the width, so the bare name, which cannot be shortened, is
    // never measured.
    QString result = path;
    while ((!folderPart.isEmpty() || !drive.isEmpty()) && textWidth(result) > maxWidth) {
        if (folderPart == rootedEllipsis) {
            drive.clear();
            folderPart = QStringLiteral("...") + delimiter;
        } else if (folderPart.isEmpty()) {
            drive.clear();
        } else {
            folderPart = dropFirstFolder(folderPart, syntax);
        }
        result = drive + folderPart + name;
    }
    return result;
}
