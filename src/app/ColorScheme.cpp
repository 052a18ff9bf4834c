#include "ColorScheme.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace Wardlamp {

using namespace Qt::StringLiterals;

bool ColorScheme::apply(const QString& scheme)
{
    const bool dark = scheme == u"dark"_s;
    if (!dark && scheme != u"light"_s)
        return false;
    QApplication::setStyle(QStyleFactory::create(u"Fusion"_s));
    if (!dark) {
        QApplication::setPalette(QApplication::style()->standardPalette());
        return true;
    }
    QPalette palette;
    const QColor window(0x2b, 0x2d, 0x31);
    const QColor base(0x1f, 0x21, 0x24);
    const QColor text(0xe8, 0xea, 0xed);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, QColor(0x3c, 0x40, 0x43));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3a, 0x3d, 0x42));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, QColor(0x4a, 0x4e, 0x54));
    palette.setColor(QPalette::Midlight, QColor(0x40, 0x43, 0x48));
    palette.setColor(QPalette::Mid, QColor(0x4f, 0x53, 0x59));
    palette.setColor(QPalette::Dark, QColor(0x18, 0x19, 0x1b));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xfd));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(0x6c, 0xb6, 0xff));
    palette.setColor(QPalette::PlaceholderText, QColor(0x9a, 0xa0, 0xa6));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x86, 0x8b));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x86, 0x8b));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x86, 0x8b));
    QApplication::setPalette(palette);
    return true;
}

} // namespace Wardlamp
