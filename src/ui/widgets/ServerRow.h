#pragma once

#include "ui/logic/ServerRowPresentation.h"

#include <QUuid>
#include <QWidget>

class QLabel;

namespace Wardlamp {

class CapsuleButton;
class ElidedLabel;
class LinkButton;
class StatusDot;

// One server in the panel: status dot, title, a subtitle that is either the
// tunnel link or the status word, and the Start/Stop button, on a faint
// rounded background. It shows a ServerRowPresentation and forwards clicks;
// it decides nothing.
class ServerRow : public QWidget {
    Q_OBJECT

public:
    explicit ServerRow(const QUuid& id, QWidget* parent = nullptr);

    QUuid serverId() const { return m_id; }
    void present(const ServerRowPresentation& presentation);
    const ServerRowPresentation& presentation() const { return m_presentation; }
    // The row's controls in keyboard order.
    QList<QWidget*> focusChain() const;

Q_SIGNALS:
    void toggleRequested(const QUuid& id);
    void linkRequested(const QUuid& id);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyColors();

    const QUuid m_id;
    ServerRowPresentation m_presentation;
    StatusDot* m_dot;
    ElidedLabel* m_title;
    ElidedLabel* m_status;
    LinkButton* m_link;
    CapsuleButton* m_button;
};

} // namespace Wardlamp
