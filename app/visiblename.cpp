#include "app/visiblename.h"

QString visibleName(QString name)
{
    for (QChar& c : name) {
        switch (c.category()) {
        case QChar::Other_Control:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            c = QChar::ReplacementCharacter;
            break;
        default:
            break;
        }
    }
    return name;
}
