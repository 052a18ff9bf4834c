#pragma once

#include <QImage>
#include <QWidget>

namespace Wardlamp {

// A QR code at a fixed size (120 × 120 by default) on white in a rounded
// square, each module drawn as whole device pixels without smoothing, so the
// edges stay hard at any scale. Shows nothing without an image.
class QrView : public QWidget {
    Q_OBJECT

public:
    explicit QrView(QWidget* parent = nullptr);

    // One pixel per module or more; a null image clears the view.
    void setImage(const QImage& image);
    QImage image() const { return m_image; }

    QSize sizeHint() const override { return { side, side }; }

    static constexpr int side = 120;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

} // namespace Wardlamp
