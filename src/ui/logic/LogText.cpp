#include "LogText.h"

#include <QDateTime>

namespace Wardlamp {

using namespace Qt::StringLiterals;

QString LogText::time(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::LocalTime).toString(u"HH:mm:ss"_s);
}

QString LogText::copyText(const QList<Line>& lines)
{
    QString text;
    qsizetype size = 0;
    for (const Line& line : lines)
        size += 11 + line.text.size();
    text.reserve(size);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += u'\n';
        text += time(lines.at(i).msecs);
        text += u"  "_s;
        text += lines.at(i).text;
    }
    return text;
}

} // namespace Wardlamp
