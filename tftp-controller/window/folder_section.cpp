#include "tftp-controller/window/folder_section.h"

#include <libintl.h>

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "tftp-controller/service/say.h"

#define _(s) gettext(s)

namespace tftpc {

std::string FolderCheckText(const std::string& folder, bool uploads, const FolderCheck& check) {
  if (check.problems.empty()) {
    return Say(uploads ? _("The server can read and write %@.") : _("The server can read %@."),
               {folder});
  }
  std::string text;
  for (const FolderProblem& problem : check.problems) {
    if (!text.empty()) text += "\n";
    text += problem.problem;
  }
  return text;
}

std::string CommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& word : argv) {
    if (!line.empty()) line += ' ';
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                            "0123456789_-+=./:,@%") == std::string::npos;
    if (plain) {
      line += word;
      continue;
    }
    line += '\'';
    for (char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

FolderSection::FolderSection(QWidget* parent) : QWidget(parent) {
  field_ = new QLineEdit;
  field_->setAccessibleName(QStringLiteral("Served folder"));
  field_->setPlaceholderText("/srv/tftp");
  auto* label = new QLabel(_("Fo&lder:"));
  label->setBuddy(field_);
  choose_ = new QPushButton(_("&Choose folder…"));
  choose_->setAccessibleName(QStringLiteral("Choose folder"));
  result_ = new QLabel;
  result_->setWordWrap(true);
  result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  result_->setAccessibleName(QStringLiteral("Folder check"));
  fix_ = new QPushButton(_("Fi&x permissions"));
  fix_->setAccessibleName(QStringLiteral("Fix permissions"));
  fix_->hide();
  command_ = new QLineEdit;
  command_->setReadOnly(true);
  command_->setAccessibleName(QStringLiteral("Command to run"));
  command_->hide();
  copy_ = new QPushButton(_("Copy command"));
  copy_->setAccessibleName(QStringLiteral("Copy command"));
  copy_->hide();

  auto* field_row = new QHBoxLayout;
  field_row->addWidget(label);
  field_row->addWidget(field_, 1);
  field_row->addWidget(choose_);
  auto* fix_row = new QHBoxLayout;
  fix_row->addWidget(command_, 1);
  fix_row->addWidget(copy_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(field_row);
  layout->addWidget(result_);
  layout->addLayout(fix_row);
  layout->addWidget(fix_, 0, Qt::AlignLeft);

  // Leaving the field announces a change at once; text set otherwise (pasted, or by a screen
  // reader's editable-text call) once the typing has paused.
  auto announce = [this] {
    pause_.stop();
    if (field_->text() == last_text_) return;
    last_text_ = field_->text();
    emit folderChanged();
  };
  pause_.setSingleShot(true);
  pause_.setInterval(600);
  connect(&pause_, &QTimer::timeout, this, announce);
  connect(field_, &QLineEdit::textEdited, this, [this] { pause_.start(); });
  connect(field_, &QLineEdit::textChanged, this, [this] {
    if (field_->text() != last_text_) pause_.start();
  });
  connect(field_, &QLineEdit::editingFinished, this, announce);
  connect(choose_, &QPushButton::clicked, this, &FolderSection::Choose);
  connect(fix_, &QPushButton::clicked, this, &FolderSection::Fix);
  connect(copy_, &QPushButton::clicked, this,
          [this] { QApplication::clipboard()->setText(command_->text()); });
}

std::string FolderSection::Folder() const {
  return field_->text().trimmed().toStdString();
}

void FolderSection::SetFolder(const std::string& folder) {
  last_text_ = QString::fromStdString(folder);
  field_->setText(last_text_);
  pause_.stop();
}

void FolderSection::Check(bool uploads) {
  uploads_ = uploads;
  const std::string folder = Folder();
  if (folder.empty()) {
    ShowCheck(FolderCheck{});
    result_->setText(_("Choose the folder to serve."));
    return;
  }
  ShowCheck(CheckFolderAccess(folder, uploads));
}

void FolderSection::ShowCheck(const FolderCheck& check) {
  check_ = check;
  const bool fine = check.problems.empty();
  result_->setText(QString::fromStdString(FolderCheckText(Folder(), uploads_, check)));
  result_->setAccessibleDescription(result_->text());
  result_->setStyleSheet(fine ? "color: #1e7b34;" : "color: #b3261e;");
  fix_->setVisible(!fine && check.fixable_by_user);
  const bool command = !fine && !check.fixable_by_user && !check.fix_command.empty();
  command_->setText(QString::fromStdString(CommandLine(check.fix_command)));
  command_->setVisible(command);
  copy_->setVisible(command);
}

void FolderSection::Choose() {
  QString start = field_->text();
  if (start.isEmpty()) start = QString::fromStdString(start_folder_);
  const QString chosen =
      QFileDialog::getExistingDirectory(this, _("Choose the folder to serve"), start);
  if (chosen.isEmpty()) return;
  SetFolder(chosen.toStdString());
  emit folderChanged();
}

void FolderSection::Fix() {
  std::string err;
  if (!FixFolderAccess(check_, uploads_, &err)) {
    result_->setText(QString::fromStdString(err));
    result_->setAccessibleDescription(result_->text());
    result_->setStyleSheet("color: #b3261e;");
    return;
  }
  Check(uploads_);
}

}  // namespace tftpc
