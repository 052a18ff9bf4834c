#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace Wardlamp {

// A QR code symbol (libqrencode, error-correction level M, byte mode): a square
// of dark and light modules, without the quiet zone. A plain value; rendering to
// an image lives with the toolkit that shows it (QrImage.h), rendering for a
// terminal is here.
class QrCode {
public:
    // Nothing when the message does not fit a QR symbol or the encoder fails.
    static std::optional<QrCode> encode(const QByteArray& message);

    int size() const { return m_size; } // modules per side
    int version() const { return m_version; }
    bool isDark(int x, int y) const { return m_modules.at(y * m_size + x) != 0; }

    // Two module rows per text line with the half-block characters ("▀", "▄",
    // "█", " "), a quiet zone of `quietZone` modules on every side, dark modules
    // drawn as light on a dark terminal when `invert` is set (most terminals show
    // light text on dark: inverted output keeps the code scannable there).
    QString toTerminalText(int quietZone = 2, bool invert = true) const;

    friend bool operator==(const QrCode&, const QrCode&) = default;

private:
    int m_size = 0;
    int m_version = 0;
    QList<char> m_modules; // row-major, 1 = dark
};

} // namespace Wardlamp
