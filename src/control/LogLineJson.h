#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QJsonObject>
#include <QList>

#include <optional>

namespace Wardlamp {

class LogRing;
struct LineBatch;

// Log lines as the control socket carries them: a JSON object
// {"lines":[{"seq":N,"time":MS,"error":BOOL,"text":"…"}, …]}. Written by
// hand, not through QJsonDocument: a followed log encodes every batch of a
// busy server once for all its followers, and this is the hot path. Pure.
class LogLineJson {
public:
    struct Line {
        quint64 seq = 0;
        qint64 msecs = 0;
        bool isError = false;
        QString text;

        friend bool operator==(const Line&, const Line&) = default;
    };

    // Every line of a batch.
    static QByteArray encode(const LineBatch& batch);
    // The same, written over what `out` held: its memory is used again.
    static void encode(const LineBatch& batch, QByteArray& out);
    // The newest lines of a log: at most `count`, and no more text than
    // `maxBytes` (the oldest are left out first). `truncated` says whether
    // lines were left out for the byte budget.
    static QByteArray encode(const LogRing& log, int count, qsizetype maxBytes, bool* truncated = nullptr);

    // The reverse, for clients: the "lines" of such an object; nothing when
    // it holds none or they are malformed.
    static std::optional<QList<Line>> decode(const QJsonObject& object);
};

} // namespace Wardlamp
