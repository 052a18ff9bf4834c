#include "ServerEditor.h"

#include "ui/logic/ServerRowPresentation.h"
#include "ui/logic/Tone.h"
#include "ui/models/ServerEditorModel.h"
#include "ui/widgets/Glyph.h"
#include "ui/widgets/SettingsForm.h"
#include "ui/widgets/ToggleSwitch.h"
#include "ui/widgets/WindowFonts.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

QString chooseWithDialog(QWidget* parent, const QString& start)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::Accept, u"Choose"_s);
    dialog.setWindowTitle(u"Choose a working directory"_s);
    if (!start.isEmpty())
        dialog.setDirectory(start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QPushButton* largeButton(const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    button->setMinimumHeight(32);
    button->setMinimumWidth(110);
    button->setIconSize(QSize(14, 14));
    return button;
}

} // namespace

ServerEditor::ServerEditor(std::unique_ptr<ServerEditorModel> model, QWidget* parent)
    : QWidget(parent)
    , m_model(std::move(model))
    , m_chooseFolder(chooseWithDialog)
{
    setObjectName(u"serverEditor"_s);
    QVBoxLayout* sections = SettingsForm::makePane(this, m_model->title());
    QWidget* content = sections->parentWidget();
    m_title = content->findChild<QLabel*>(u"paneTitle"_s);

    auto* server = new FormSection(u"Server"_s, content);
    auto* fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_name = new QLineEdit(server->card());
    m_name->setObjectName(u"nameField"_s);
    m_name->setPlaceholderText(u"YouTube downloader"_s);
    m_name->setAccessibleName(u"Name"_s);
    m_command = new QLineEdit(server->card());
    m_command->setObjectName(u"commandField"_s);
    m_command->setPlaceholderText(u"bun server.js"_s);
    m_command->setFont(WindowFonts::monospaced());
    m_command->setAccessibleName(u"Command"_s);
    // No completion or correction: the command is taken as typed.
    m_command->setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase | Qt::ImhPreferLatin);
    fields->addRow(u"Name"_s, m_name);
    fields->addRow(u"Command"_s, m_command);
    server->rows()->addLayout(fields);
    server->rows()->addWidget(SettingsForm::makeNote(
        u"The exact command line you'd type in a terminal, e.g. `bun server.js` or `bun /path/to/yt.js`."_s,
        server->card()));
    sections->addWidget(server);

    auto* directory = new FormSection(u"Working Directory"_s, content);
    auto* directoryRow = new QHBoxLayout;
    m_directory = new QLineEdit(directory->card());
    m_directory->setObjectName(u"directoryField"_s);
    m_directory->setPlaceholderText(u"Optional — run the command from here"_s);
    m_directory->setFont(WindowFonts::monospaced());
    m_directory->setAccessibleName(u"Directory"_s);
    m_choose = new QPushButton(u"Choose…"_s, directory->card());
    m_choose->setObjectName(u"chooseButton"_s);
    m_choose->setAccessibleName(u"Choose a directory"_s);
    directoryRow->addWidget(m_directory, 1);
    directoryRow->addWidget(m_choose);
    directory->rows()->addLayout(directoryRow);
    directory->rows()->addWidget(SettingsForm::makeNote(
        u"If set, the command runs as if you'd `cd`'d here first, so relative paths like `bun server.js` "
        "resolve."_s,
        directory->card()));
    sections->addWidget(directory);

    auto* behaviour = new FormSection(u"Behavior"_s, content);
    m_autostart = SettingsForm::addToggleRow(behaviour->rows(), u"Start on app launch"_s, {}, u"autostartSwitch"_s);
    m_restart = SettingsForm::addToggleRow(behaviour->rows(), u"Restart after crash"_s,
        u"Automatically restart this server if it exits unexpectedly. A brief cooldown prevents rapid restart "
        "loops."_s,
        u"restartSwitch"_s);
    sections->addWidget(behaviour);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(10);
    actions->addStretch(1);
    m_startStop = largeButton(u"startStopButton"_s, content);
    m_delete = largeButton(u"deleteButton"_s, content);
    m_delete->setText(u"Delete"_s);
    m_delete->setAccessibleName(u"Delete"_s);
    m_delete->setIcon(QIcon(Glyph::pixmap(u"trash"_s, 14, colorFor(Tone::error, palette()), devicePixelRatioF())));
    QPalette red = m_delete->palette();
    red.setColor(QPalette::ButtonText, colorFor(Tone::error, red));
    m_delete->setPalette(red);
    actions->addWidget(m_startStop);
    actions->addWidget(m_delete);
    actions->addStretch(1);
    sections->addLayout(actions);
    sections->addStretch(1);

    connect(m_name, &QLineEdit::textEdited, m_model.get(), &ServerEditorModel::setName);
    connect(m_command, &QLineEdit::textEdited, m_model.get(), &ServerEditorModel::setCommand);
    connect(m_directory, &QLineEdit::textEdited, m_model.get(), &ServerEditorModel::setDirectoryText);
    connect(m_autostart, &ToggleSwitch::toggled, m_model.get(), &ServerEditorModel::setAutostart);
    connect(m_restart, &ToggleSwitch::toggled, m_model.get(), &ServerEditorModel::setRestartOnCrash);
    connect(m_choose, &QPushButton::clicked, this, &ServerEditor::chooseFolder);
    connect(m_startStop, &QPushButton::clicked, m_model.get(), &ServerEditorModel::toggleRunning);
    connect(m_delete, &QPushButton::clicked, this, [this] { Q_EMIT deleteRequested(m_model->id()); });
    connect(m_model.get(), &ServerEditorModel::serverChanged, this, &ServerEditor::refresh);
    connect(m_model.get(), &ServerEditorModel::statusChanged, this, &ServerEditor::updateStartStop);

    refresh();
    updateStartStop();
}

ServerEditor::~ServerEditor() = default;

void ServerEditor::refresh()
{
    const ServerConfig server = m_model->server();
    const QString title = ServerRowPresentation::singleLine(m_model->title());
    m_title->setText(title);
    m_title->setAccessibleName(title);
    setAccessibleName(title);
    setWindowTitle(title);
    // Only fields that differ are set, so typing keeps its cursor.
    if (m_name->text() != server.name)
        m_name->setText(server.name);
    if (m_command->text() != server.command)
        m_command->setText(server.command);
    if (m_directory->text() != m_model->directoryText())
        m_directory->setText(m_model->directoryText());
    m_autostart->setChecked(server.autostart);
    m_restart->setChecked(server.restartOnCrash);
}

void ServerEditor::updateStartStop()
{
    const bool running = m_model->isRunning();
    const Tone tone = running ? Tone::error : Tone::running;
    m_startStop->setText(running ? u"Stop"_s : u"Start"_s);
    m_startStop->setAccessibleName(m_startStop->text());
    m_startStop->setIcon(QIcon(Glyph::pixmap(running ? u"stop"_s : u"play"_s, 14, Qt::white, devicePixelRatioF())));
    QPalette colours = m_startStop->palette();
    colours.setColor(QPalette::Button, colorFor(tone, colours));
    colours.setColor(QPalette::ButtonText, Qt::white);
    m_startStop->setPalette(colours);
}

void ServerEditor::chooseFolder()
{
    const QString chosen = m_chooseFolder(this, m_model->directoryText());
    if (chosen.isEmpty())
        return;
    m_model->setDirectoryText(chosen);
}

} // namespace Wardlamp
