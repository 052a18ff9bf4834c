#include "RemoteSettingsPane.h"

#include "agent/ConnectionState.h"
#include "agent/PairingStore.h"
#include "agent/RelayEndpoint.h"
#include "agent/RemoteAgent.h"
#include "platform/QrImage.h"
#include "ui/logic/SettingsText.h"
#include "ui/logic/Tone.h"
#include "ui/models/CopyFeedback.h"
#include "ui/models/PasswordDraft.h"
#include "ui/widgets/Glyph.h"
#include "ui/widgets/QrView.h"
#include "ui/widgets/SettingsForm.h"
#include "ui/widgets/ToggleSwitch.h"
#include "ui/widgets/WindowFonts.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr int fieldMaximumWidth = 280;
constexpr int keyLines = 3;

// The pairing key: monospaced, selectable, on the text background, cut in
// the middle to three lines of the width it gets.
class KeyText : public QLabel {
public:
    explicit KeyText(QWidget* parent)
        : QLabel(parent)
    {
        setFont(WindowFonts::monospacedCaption());
        setTextFormat(Qt::PlainText);
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        setAutoFillBackground(true);
        setBackgroundRole(QPalette::Base);
        setMargin(6);
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumHeight(fontMetrics().lineSpacing() * keyLines + 12);
    }

    void setKey(const QString& key)
    {
        m_key = key;
        setAccessibleName(key);
        relayout();
    }
    QString key() const { return m_key; }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        relayout();
    }

private:
    void relayout()
    {
        const int advance = std::max(1, fontMetrics().horizontalAdvance(u'0'));
        const int perLine = std::max(8, (width() - 2 * margin()) / advance);
        setText(SettingsText::middleTruncated(m_key, perLine, keyLines));
    }

    QString m_key;
};

QLineEdit* makeField(const QString& name, const QString& placeholder, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setPlaceholderText(placeholder);
    field->setMaximumWidth(fieldMaximumWidth);
    return field;
}

QHBoxLayout* labelledRow(const QString& label, QWidget* value, QWidget* parent)
{
    auto* row = new QHBoxLayout;
    auto* title = new QLabel(label, parent);
    title->setBuddy(value);
    row->addWidget(title);
    row->addStretch(1);
    row->addWidget(value);
    return row;
}

} // namespace

RemoteSettingsPane::RemoteSettingsPane(PairingStore& pairing, RemoteAgent& agent, QWidget* parent)
    : QWidget(parent)
    , m_pairing(pairing)
    , m_agent(agent)
    , m_passwordDraft(std::make_unique<PasswordDraft>(pairing))
    , m_copied(new CopyFeedback(CopyFeedback::defaultDelay, this))
{
    setObjectName(u"remotePane"_s);
    QVBoxLayout* sections = SettingsForm::makePane(this, u"Remote"_s);
    QWidget* content = sections->parentWidget();

    // Remote access, always shown.
    auto* access = new FormSection(u"Remote access"_s, content);
    m_enabled = SettingsForm::addToggleRow(access->rows(), u"Allow monitoring from other devices"_s,
        u"This computer dials out to a blind relay so a phone (in the web controller) or `wardlamp-remote` can see "
        "status and logs and start/stop servers — from anywhere, no port-forwarding. The relay can't read anything; "
        "only devices holding this computer's pairing key (and password) can."_s,
        u"remoteSwitch"_s);
    m_enabled->setChecked(pairing.isEnabled());
    connect(m_enabled, &ToggleSwitch::toggled, &pairing, &PairingStore::setEnabled);

    m_statusRow = new QWidget(access->card());
    m_statusRow->setObjectName(u"statusRow"_s);
    auto* statusLayout = new QHBoxLayout(m_statusRow);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->addWidget(new QLabel(u"Status"_s, m_statusRow));
    statusLayout->addStretch(1);
    m_statusGlyph = new QLabel(m_statusRow);
    m_statusGlyph->setObjectName(u"statusGlyph"_s);
    m_statusText = new QLabel(m_statusRow);
    m_statusText->setObjectName(u"statusText"_s);
    m_statusText->setTextFormat(Qt::PlainText);
    m_statusText->setWordWrap(true);
    m_statusText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusLayout->addWidget(m_statusGlyph);
    statusLayout->addWidget(m_statusText, 0);
    access->rows()->addWidget(m_statusRow);
    m_storeProblem = new QLabel(access->card());
    m_storeProblem->setObjectName(u"storeProblem"_s);
    m_storeProblem->setWordWrap(true);
    m_storeProblem->setTextFormat(Qt::PlainText);
    m_storeProblem->setFont(WindowFonts::caption());
    m_storeProblem->setVisible(false);
    access->rows()->addWidget(m_storeProblem);
    sections->addWidget(access);

    // This computer.
    auto* machine = new FormSection(u"This computer"_s, content);
    m_name = makeField(u"nameField"_s, PairingStore::defaultMacName(), machine->card());
    m_name->setText(pairing.macName());
    m_name->setAccessibleName(u"Name"_s);
    connect(m_name, &QLineEdit::textEdited, &pairing, &PairingStore::setMacName);
    connect(&pairing, &PairingStore::macNameChanged, this, [this](const QString& name) {
        if (m_name->text() != name)
            m_name->setText(name);
    });
    machine->rows()->addLayout(labelledRow(u"Name"_s, m_name, machine->card()));
    machine->rows()->addWidget(
        SettingsForm::makeNote(u"Shown for this computer on the devices paired with it."_s, machine->card()));
    sections->addWidget(machine);
    m_enabledOnly.append(machine);

    QWidget* key = buildKeySection(content);
    sections->addWidget(key);
    m_enabledOnly.append(key);

    m_webSection = static_cast<FormSection*>(buildWebSection(content));
    sections->addWidget(m_webSection);
    m_enabledOnly.append(m_webSection);

    // Password.
    auto* password = new FormSection(u"Password (recommended)"_s, content);
    m_password = makeField(u"passwordField"_s, u"optional, but recommended"_s, password->card());
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setAccessibleName(u"Password"_s);
    m_password->setText(pairing.password());
    connect(m_password, &QLineEdit::textEdited, m_passwordDraft.get(), &PasswordDraft::edit);
    connect(m_password, &QLineEdit::editingFinished, m_passwordDraft.get(), &PasswordDraft::finish);
    connect(&pairing, &PairingStore::passwordChanged, this, [this](const QString& text) {
        if (!m_passwordDraft->isPending() && m_password->text() != text)
            m_password->setText(text);
    });
    password->rows()->addLayout(labelledRow(u"Password"_s, m_password, password->card()));
    password->rows()->addWidget(SettingsForm::makeNote(
        u"A second factor mixed into the end-to-end encryption. With a password set, someone who obtains the "
        "pairing key still can't read logs or control servers without it. Enter the same password on the other "
        "device."_s,
        password->card()));
    sections->addWidget(password);
    m_enabledOnly.append(password);
    sections->addStretch(1);

    connect(&pairing, &PairingStore::enabledChanged, this, [this](bool on) {
        if (m_enabled->isChecked() != on)
            m_enabled->setChecked(on);
        updateEnabled();
    });
    connect(&pairing, &PairingStore::secretChanged, this, &RemoteSettingsPane::updateKey);
    connect(&pairing, &PairingStore::macNameChanged, this, &RemoteSettingsPane::updateKey);
    connect(&pairing, &PairingStore::storeFailed, this, [this](const QString& what) {
        m_storeProblem->setText(u"Could not save "_s + what
            + u": the keyring did not answer or is locked. The new value is in use until Wardlamp quits."_s);
        m_storeProblem->setVisible(true);
    });
    connect(&agent, &RemoteAgent::stateChanged, this, &RemoteSettingsPane::updateStatus);
    connect(m_copied, &CopyFeedback::copiedChanged, this, &RemoteSettingsPane::updateCopyLabel);

    updateStatus(agent.state());
    updateKey();
    updateCopyLabel(false);
    updateEnabled();
}

RemoteSettingsPane::~RemoteSettingsPane() = default;

QWidget* RemoteSettingsPane::buildKeySection(QWidget* content)
{
    auto* section = new FormSection(u"Pairing key"_s, content);
    QWidget* card = section->card();
    m_keyRow = new QWidget(card);
    m_keyRow->setObjectName(u"keyRow"_s);
    auto* row = new QHBoxLayout(m_keyRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);
    m_qr = new QrView(m_keyRow);
    m_qr->setObjectName(u"keyQr"_s);
    m_qr->setAccessibleName(u"Pairing key QR code"_s);
    row->addWidget(m_qr, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    column->addWidget(
        SettingsForm::makeNote(u"Scan this on the other device, or copy the key and paste it in."_s, m_keyRow));
    auto* keyText = new KeyText(m_keyRow);
    keyText->setObjectName(u"keyText"_s);
    m_keyText = keyText;
    column->addWidget(m_keyText);
    m_copy = new QPushButton(m_keyRow);
    m_copy->setObjectName(u"copyKeyButton"_s);
    connect(m_copy, &QPushButton::clicked, this, &RemoteSettingsPane::copyKey);
    column->addWidget(m_copy, 0, Qt::AlignLeft);
    column->addStretch(1);
    row->addLayout(column, 1);
    section->rows()->addWidget(m_keyRow);

    m_rotate = new QPushButton(u"Rotate key"_s, card);
    m_rotate->setObjectName(u"rotateButton"_s);
    m_rotate->setIcon(QIcon(Glyph::pixmap(u"rotate"_s, 16, colorFor(Tone::error, palette()), devicePixelRatioF())));
    QPalette red = m_rotate->palette();
    red.setColor(QPalette::ButtonText, colorFor(Tone::error, red));
    m_rotate->setPalette(red);
    connect(m_rotate, &QPushButton::clicked, this, &RemoteSettingsPane::confirmRotate);
    section->rows()->addWidget(m_rotate, 0, Qt::AlignLeft);
    section->rows()->addWidget(
        SettingsForm::makeNote(u"Rotating instantly revokes access for any device that has the old key."_s, card));
    return section;
}

QWidget* RemoteSettingsPane::buildWebSection(QWidget* content)
{
    auto* section = new FormSection(u"Open on a phone"_s, content);
    section->setObjectName(u"webSection"_s);
    QWidget* card = section->card();
    auto* row = new QHBoxLayout;
    row->setSpacing(16);
    m_webQr = new QrView(card);
    m_webQr->setObjectName(u"webQr"_s);
    m_webQr->setAccessibleName(u"Web controller link QR code"_s);
    row->addWidget(m_webQr, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    column->addWidget(SettingsForm::makeNote(
        u"Scan this with a phone's camera to open the web controller, already paired. The link holds the pairing "
        "key: share it with nobody else."_s,
        card));
    m_webLink = new KeyText(card);
    m_webLink->setObjectName(u"webLink"_s);
    column->addWidget(m_webLink);
    column->addStretch(1);
    row->addLayout(column, 1);
    section->rows()->addLayout(row);
    return section;
}

QMessageBox* RemoteSettingsPane::rotateConfirmation() const
{
    return m_confirm;
}

void RemoteSettingsPane::updateEnabled()
{
    const bool on = m_pairing.isEnabled();
    m_statusRow->setVisible(on);
    for (QWidget* section : std::as_const(m_enabledOnly))
        section->setVisible(on);
    if (on)
        m_webSection->setVisible(m_agent.relayUrl().has_value() && m_pairing.pairingKey().has_value());
}

void RemoteSettingsPane::updateStatus(const ConnectionState& state)
{
    const ConnectionStatusText status = ConnectionStatusText::describe(state);
    const QColor colour = colorFor(status.tone, palette());
    QPalette colours = m_statusText->palette();
    colours.setColor(QPalette::WindowText, colour);
    m_statusText->setPalette(colours);
    m_statusText->setText(status.text);
    m_statusText->setAccessibleName(u"Status: "_s + status.text);
    m_statusGlyph->setPixmap(Glyph::pixmap(status.glyph, 14, colour, devicePixelRatioF()));
}

void RemoteSettingsPane::updateKey()
{
    const std::optional<QString> key = m_pairing.pairingKey();
    m_keyRow->setVisible(key.has_value());
    static_cast<KeyText*>(m_keyText)->setKey(key.value_or(QString()));
    const std::optional<QrCode> code = m_pairing.qrCode();
    // One pixel per module: the view scales by whole device pixels itself.
    m_qr->setImage(code ? qrImage(*code, 1) : QImage());

    const std::optional<QUrl> relay = m_agent.relayUrl();
    if (key && relay) {
        const QString link = RelayEndpoint::webPairingLink(*relay, *key);
        static_cast<KeyText*>(m_webLink)->setKey(link);
        const std::optional<QrCode> linkCode = QrCode::encode(link.toUtf8());
        m_webQr->setImage(linkCode ? qrImage(*linkCode, 1) : QImage());
    } else {
        static_cast<KeyText*>(m_webLink)->setKey(QString());
        m_webQr->setImage(QImage());
    }
    updateEnabled();
}

void RemoteSettingsPane::updateCopyLabel(bool copied)
{
    m_copy->setText(copied ? u"Copied"_s : u"Copy key"_s);
    m_copy->setAccessibleName(m_copy->text());
    m_copy->setIcon(QIcon(Glyph::pixmap(
        copied ? u"check"_s : u"copy"_s, 14, palette().color(QPalette::ButtonText), devicePixelRatioF())));
}

void RemoteSettingsPane::copyKey()
{
    const std::optional<QString> key = m_pairing.pairingKey();
    if (!key)
        return;
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(*key);
    m_copied->copy();
}

void RemoteSettingsPane::confirmRotate()
{
    if (m_confirm)
        return;
    m_confirm = new QMessageBox(this);
    m_confirm->setObjectName(u"rotateConfirm"_s);
    m_confirm->setIcon(QMessageBox::Warning);
    m_confirm->setWindowTitle(u"Rotate the pairing key?"_s);
    m_confirm->setText(u"Rotate the pairing key?"_s);
    m_confirm->setInformativeText(u"Every device already paired with this computer will stop working and must be "
                                  "re-paired with the new key."_s);
    QPushButton* rotate = m_confirm->addButton(u"Rotate key"_s, QMessageBox::DestructiveRole);
    rotate->setObjectName(u"confirmRotateButton"_s);
    QPushButton* cancel = m_confirm->addButton(QMessageBox::Cancel);
    cancel->setObjectName(u"cancelRotateButton"_s);
    m_confirm->setDefaultButton(cancel);
    m_confirm->setEscapeButton(cancel);
    m_confirm->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_confirm, &QMessageBox::finished, this, [this, rotate] {
        const bool confirmed = m_confirm->clickedButton() == rotate;
        m_confirm = nullptr;
        if (confirmed)
            m_pairing.rotateSecret();
    });
    m_confirm->open();
}

} // namespace Wardlamp
